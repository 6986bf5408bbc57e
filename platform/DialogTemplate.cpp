#include "platform/DialogTemplate.h"

#include <cstring>

namespace {

class Reader {
public:
    explicit Reader(std::span<const unsigned char> bytes) : m_bytes(bytes) {}

    bool U8(std::uint8_t& v) {
        if (m_pos + 1 > m_bytes.size()) return false;
        v = m_bytes[m_pos++];
        return true;
    }
    bool U16(std::uint16_t& v) {
        if (m_pos + 2 > m_bytes.size()) return false;
        v = static_cast<std::uint16_t>(m_bytes[m_pos] | (m_bytes[m_pos + 1] << 8));
        m_pos += 2;
        return true;
    }
    bool U32(std::uint32_t& v) {
        std::uint16_t lo = 0, hi = 0;
        if (!U16(lo) || !U16(hi)) return false;
        v = lo | (static_cast<std::uint32_t>(hi) << 16);
        return true;
    }
    bool S16(std::int16_t& v) {
        std::uint16_t u = 0;
        if (!U16(u)) return false;
        v = static_cast<std::int16_t>(u);
        return true;
    }
    bool Rect(std::int16_t& x, std::int16_t& y, std::int16_t& cx, std::int16_t& cy) {
        return S16(x) && S16(y) && S16(cx) && S16(cy);
    }
    bool String(std::string& s) {
        std::uint16_t size = 0;
        if (!U16(size) || m_pos + size > m_bytes.size()) return false;
        s.assign(reinterpret_cast<const char*>(m_bytes.data() + m_pos), size);
        m_pos += size;
        return true;
    }
    bool Magic() {
        if (m_bytes.size() < sizeof kDialogTemplateMagic ||
            std::memcmp(m_bytes.data(), kDialogTemplateMagic, sizeof kDialogTemplateMagic) != 0)
            return false;
        m_pos = sizeof kDialogTemplateMagic;
        return true;
    }
    bool AtEnd() const { return m_pos == m_bytes.size(); }

private:
    std::span<const unsigned char> m_bytes;
    std::size_t m_pos = 0;
};

bool Decode(Reader& r, DialogTemplate& t) {
    std::uint16_t version = 0, count = 0;
    if (!r.Magic() || !r.U16(version) || version != kDialogTemplateVersion || !r.U16(count)) return false;
    if (!r.U32(t.style) || !r.U32(t.exStyle) || !r.Rect(t.x, t.y, t.cx, t.cy)) return false;
    if (!r.U16(t.pointSize) || !r.U16(t.weight) || !r.U8(t.italic) || !r.U8(t.charset)) return false;
    if (!r.String(t.caption) || !r.String(t.fontFace)) return false;
    for (unsigned i = 0; i < count; ++i) {
        DialogItemTemplate item;
        std::uint32_t id = 0;
        if (!r.U32(id) || !r.U32(item.style) || !r.U32(item.exStyle)) return false;
        if (!r.Rect(item.x, item.y, item.cx, item.cy)) return false;
        if (!r.String(item.className) || !r.String(item.text)) return false;
        item.id = static_cast<std::int32_t>(id);
        t.items.push_back(std::move(item));
    }
    return r.AtEnd();
}

} // namespace

bool DecodeDialogTemplate(std::span<const unsigned char> bytes, DialogTemplate& out) {
    out = {};
    Reader reader(bytes);
    if (Decode(reader, out)) return true;
    out = {};
    return false;
}
