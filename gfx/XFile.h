// The DirectX file services: a reader of X files in the text encoding
// ("xof 0302txt 0064", "xof 0303txt 0032" ...), in the shape of the COM
// interfaces IDirectXFile, IDirectXFileEnumObject, IDirectXFileData and
// IDirectXFileDataReference. Objects are reference counted: every object handed
// out carries one reference that its receiver releases.
//
// A file is parsed as a whole when its enumerator is created: a file that does
// not parse gives no enumerator. The data of an object is laid out as its
// template describes it, without padding: WORD 2 bytes, DWORD 4, FLOAT 4 (in
// 64-bit-float files as well; the float size only sets the precision the text
// is read with), DOUBLE 8, CHAR/UCHAR/BYTE 1, STRING a char pointer to a
// NUL-terminated copy kept by the object; arrays lie contiguously, structure
// members are flattened into their parent.
//
// Text syntax: `//` and `#` comments; the separators `,` and `;` may be doubled
// or left out, as exporters write them; an object is `Template [name]
// { [<guid>] members children }`; a child is a data object or a reference
// `{ name }`, `{ <guid> }` or `{ name <guid> }` to a named object of the file.
// Templates may be defined in the file itself and are then known to that file;
// a definition that gives a known template GUID another data layout is
// refused (DXFILEERR_BADTYPE), so a reader of a standard type can trust its
// layout. A restricted template takes only the children it lists, a closed
// one none.
//
// Limits that keep hostile input harmless: objects nest at most
// kXFileMaxNesting levels, template structures kXFileMaxTemplateNesting
// levels, and an array may not claim more elements than the rest of the input
// could hold. References that would make a walk of the children endless are
// rejected.
#pragma once

#include <cstring>
#include <memory>

#include "platform/Win32Types.h"

// ---------------------------------------------------------------------------
// GUIDs

struct GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
};
using IID = GUID;
using REFGUID = const GUID&;
using REFIID = const GUID&;

inline bool IsEqualGUID(REFGUID a, REFGUID b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }
inline bool operator==(REFGUID a, REFGUID b) { return IsEqualGUID(a, b); }

constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);

// ---------------------------------------------------------------------------
// Result codes

constexpr HRESULT MakeDXFileHResult(unsigned code) { return static_cast<HRESULT>(0x88760000u | code); }
constexpr HRESULT DXFILE_OK = S_OK;
constexpr HRESULT DXFILEERR_BADOBJECT = MakeDXFileHResult(850);
constexpr HRESULT DXFILEERR_BADVALUE = MakeDXFileHResult(851);
constexpr HRESULT DXFILEERR_BADTYPE = MakeDXFileHResult(852);
constexpr HRESULT DXFILEERR_BADALLOC = MakeDXFileHResult(854);
constexpr HRESULT DXFILEERR_NOTFOUND = MakeDXFileHResult(855);
constexpr HRESULT DXFILEERR_RESOURCENOTFOUND = MakeDXFileHResult(858);
constexpr HRESULT DXFILEERR_BADRESOURCE = MakeDXFileHResult(860);
constexpr HRESULT DXFILEERR_BADFILETYPE = MakeDXFileHResult(861);
constexpr HRESULT DXFILEERR_BADFILEVERSION = MakeDXFileHResult(862);
constexpr HRESULT DXFILEERR_BADFILEFLOATSIZE = MakeDXFileHResult(863);
constexpr HRESULT DXFILEERR_BADFILECOMPRESSIONTYPE = MakeDXFileHResult(864);
constexpr HRESULT DXFILEERR_BADFILE = MakeDXFileHResult(865);
constexpr HRESULT DXFILEERR_PARSEERROR = MakeDXFileHResult(866);
constexpr HRESULT DXFILEERR_NOTEMPLATE = MakeDXFileHResult(867);
constexpr HRESULT DXFILEERR_BADARRAYSIZE = MakeDXFileHResult(868);
constexpr HRESULT DXFILEERR_BADDATAREFERENCE = MakeDXFileHResult(869);
constexpr HRESULT DXFILEERR_NOMOREOBJECTS = MakeDXFileHResult(871);

// ---------------------------------------------------------------------------
// Loading options and their source records

constexpr DWORD DXFILELOAD_FROMFILE = 0x00;
constexpr DWORD DXFILELOAD_FROMRESOURCE = 0x01;
constexpr DWORD DXFILELOAD_FROMMEMORY = 0x02;
constexpr DWORD DXFILELOAD_FROMSTREAM = 0x04;
constexpr DWORD DXFILELOAD_FROMURL = 0x08;

struct DXFILELOADRESOURCE {
    HMODULE hModule;  // null: the program itself
    const char* lpName;
    const char* lpType;
};

struct DXFILELOADMEMORY {
    const void* lpMemory;
    DWORD dSize;
};

// ---------------------------------------------------------------------------
// Interface identifiers (for QueryInterface) and the standard template
// identifiers.

inline constexpr IID IID_IDirectXFile = {0x3D82AB40, 0x62DA, 0x11CF, {0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33}};
inline constexpr IID IID_IDirectXFileEnumObject = {0x3D82AB41, 0x62DA, 0x11CF, {0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33}};
inline constexpr IID IID_IDirectXFileObject = {0x3D82AB43, 0x62DA, 0x11CF, {0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33}};
inline constexpr IID IID_IDirectXFileData = {0x3D82AB44, 0x62DA, 0x11CF, {0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33}};
inline constexpr IID IID_IDirectXFileDataReference = {0x3D82AB45, 0x62DA, 0x11CF, {0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33}};
inline constexpr IID IID_IDirectXFileBinary = {0x3D82AB46, 0x62DA, 0x11CF, {0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33}};

inline constexpr GUID TID_D3DRMInfo = {0x3D82AB43, 0x62DA, 0x11CF, {0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33}};
inline constexpr GUID TID_D3DRMMesh = {0x3D82AB44, 0x62DA, 0x11CF, {0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33}};
inline constexpr GUID TID_D3DRMFrame = {0x3D82AB46, 0x62DA, 0x11CF, {0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33}};
inline constexpr GUID TID_D3DRMMaterial = {0x3D82AB4D, 0x62DA, 0x11CF, {0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33}};
inline constexpr GUID TID_D3DRMAnimation = {0x3D82AB4F, 0x62DA, 0x11CF, {0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33}};
inline constexpr GUID TID_D3DRMAnimationSet = {0x3D82AB50, 0x62DA, 0x11CF, {0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33}};
inline constexpr GUID TID_D3DRMVector = {0x3D82AB5E, 0x62DA, 0x11CF, {0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33}};
inline constexpr GUID TID_D3DRMMeshFace = {0x3D82AB5F, 0x62DA, 0x11CF, {0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33}};
inline constexpr GUID TID_D3DRMMeshTextureCoords = {0xF6F23F40, 0x7686, 0x11CF, {0x8F, 0x52, 0x00, 0x40, 0x33, 0x35, 0x94, 0xA3}};
inline constexpr GUID TID_D3DRMFrameTransformMatrix = {0xF6F23F41, 0x7686, 0x11CF, {0x8F, 0x52, 0x00, 0x40, 0x33, 0x35, 0x94, 0xA3}};
inline constexpr GUID TID_D3DRMMeshMaterialList = {0xF6F23F42, 0x7686, 0x11CF, {0x8F, 0x52, 0x00, 0x40, 0x33, 0x35, 0x94, 0xA3}};
inline constexpr GUID TID_D3DRMMeshNormals = {0xF6F23F43, 0x7686, 0x11CF, {0x8F, 0x52, 0x00, 0x40, 0x33, 0x35, 0x94, 0xA3}};
inline constexpr GUID TID_D3DRMCoords2d = {0xF6F23F44, 0x7686, 0x11CF, {0x8F, 0x52, 0x00, 0x40, 0x33, 0x35, 0x94, 0xA3}};
inline constexpr GUID TID_D3DRMMatrix4x4 = {0xF6F23F45, 0x7686, 0x11CF, {0x8F, 0x52, 0x00, 0x40, 0x33, 0x35, 0x94, 0xA3}};
inline constexpr GUID TID_D3DRMColorRGBA = {0x35FF44E0, 0x6C7C, 0x11CF, {0x8F, 0x52, 0x00, 0x40, 0x33, 0x35, 0x94, 0xA3}};
inline constexpr GUID TID_D3DRMColorRGB = {0xD3E16E81, 0x7835, 0x11CF, {0x8F, 0x52, 0x00, 0x40, 0x33, 0x35, 0x94, 0xA3}};
inline constexpr GUID TID_D3DRMIndexedColor = {0x1630B820, 0x7842, 0x11CF, {0x8F, 0x52, 0x00, 0x40, 0x33, 0x35, 0x94, 0xA3}};
inline constexpr GUID TID_D3DRMMeshVertexColors = {0x1630B821, 0x7842, 0x11CF, {0x8F, 0x52, 0x00, 0x40, 0x33, 0x35, 0x94, 0xA3}};
inline constexpr GUID TID_D3DRMTextureFilename = {0xA42790E1, 0x7810, 0x11CF, {0x8F, 0x52, 0x00, 0x40, 0x33, 0x35, 0x94, 0xA3}};
inline constexpr GUID TID_D3DRMAnimationKey = {0x10DD46A8, 0x775B, 0x11CF, {0x8F, 0x52, 0x00, 0x40, 0x33, 0x35, 0x94, 0xA3}};
inline constexpr GUID TID_D3DRMFloatKeys = {0x10DD46A9, 0x775B, 0x11CF, {0x8F, 0x52, 0x00, 0x40, 0x33, 0x35, 0x94, 0xA3}};
inline constexpr GUID TID_D3DRMTimedFloatKeys = {0xF406B180, 0x7B3B, 0x11CF, {0x8F, 0x52, 0x00, 0x40, 0x33, 0x35, 0x94, 0xA3}};
inline constexpr GUID TID_D3DRMAnimationOptions = {0xE2BF56C0, 0x840F, 0x11CF, {0x8F, 0x52, 0x00, 0x40, 0x33, 0x35, 0x94, 0xA3}};
inline constexpr GUID DXFILEOBJ_XSkinMeshHeader = {0x3CF169CE, 0xFF7C, 0x44AB, {0x93, 0xC0, 0xF7, 0x8F, 0x62, 0xD1, 0x72, 0xE2}};
inline constexpr GUID DXFILEOBJ_SkinWeights = {0x6F0D123B, 0xBAD2, 0x4167, {0xA0, 0xD0, 0x80, 0x22, 0x4F, 0x25, 0xFA, 0xBB}};
inline constexpr GUID DXFILEOBJ_VertexDuplicationIndices = {0xB8D65549, 0xD7C9, 0x4995, {0x89, 0xCF, 0x53, 0xA9, 0xA8, 0xB0, 0x31, 0xE3}};

// The definitions of the standard templates above (Header, Vector, Coords2d,
// Matrix4x4, ColorRGBA, ColorRGB, IndexedColor, Material, TextureFilename,
// MeshFace, MeshNormals, MeshTextureCoords, MeshVertexColors,
// MeshMaterialList, Mesh, FrameTransformMatrix, Frame, FloatKeys,
// TimedFloatKeys, AnimationKey, AnimationOptions, Animation, AnimationSet,
// XSkinMeshHeader, SkinWeights, VertexDuplicationIndices) as one text block
// for RegisterTemplates.
extern const char D3DRM_XTEMPLATES[];
extern const DWORD D3DRM_XTEMPLATE_BYTES;

// Nesting limits.
constexpr int kXFileMaxNesting = 256;
constexpr int kXFileMaxTemplateNesting = 32;

// ---------------------------------------------------------------------------
// Interfaces

struct XFileDocument;
struct XFileNode;
struct XFileChild;
struct XFileTemplateSet;
class XFileData;

// What a data object, a reference and (in the binary encoding, never made
// here) a binary block have in common.
class XFileObject {
public:
    XFileObject(const XFileObject&) = delete;
    XFileObject& operator=(const XFileObject&) = delete;

    DWORD AddRef() { return ++m_dwRefs; }
    DWORD Release();

    // IID_IDirectXFileObject and the object's own interface give the object
    // with one more reference; anything else E_NOINTERFACE and null.
    virtual HRESULT QueryInterface(REFIID riid, void** object) = 0;

    // The name with its NUL: with a null buffer *size receives the size
    // needed; a buffer smaller than that gives DXFILEERR_BADVALUE and the size
    // needed in *size. An unnamed object has the empty name.
    virtual HRESULT GetName(char* buffer, DWORD* size) = 0;
    // The object's GUID, all zero when the file gives none.
    virtual HRESULT GetId(GUID* id) = 0;

protected:
    XFileObject() = default;
    virtual ~XFileObject() = default;

private:
    DWORD m_dwRefs = 1;
};

// A data object of the file.
class XFileData final : public XFileObject {
public:
    HRESULT QueryInterface(REFIID riid, void** object) override;
    HRESULT GetName(char* buffer, DWORD* size) override;
    HRESULT GetId(GUID* id) override;

    // The GUID of the object's template; the pointer lives as long as the
    // object.
    HRESULT GetType(const GUID** type);
    // The data of one member of the template (by its name), or of the whole
    // object when member is null. The pointer lives as long as the object.
    // DXFILEERR_NOTFOUND for a name the template does not have.
    HRESULT GetData(const char* member, DWORD* size, void** data);
    // The next child (a data object or a data reference) in file order;
    // DXFILEERR_NOMOREOBJECTS after the last.
    HRESULT GetNextObject(XFileObject** child);

private:
    friend class XFileEnumObject;
    friend class XFileDataReference;
    XFileData(std::shared_ptr<const XFileDocument> document, const XFileNode* node);
    ~XFileData() override;

    std::shared_ptr<const XFileDocument> m_pDocument;
    const XFileNode* m_pNode;
    std::size_t m_nNextChild = 0;
};

// A child `{ name }` that stands for another object of the file.
class XFileDataReference final : public XFileObject {
public:
    HRESULT QueryInterface(REFIID riid, void** object) override;
    // The name as the reference writes it (empty when it gives only a GUID).
    HRESULT GetName(char* buffer, DWORD* size) override;
    HRESULT GetId(GUID* id) override;

    // The object referred to, as a new data object with one reference.
    HRESULT Resolve(XFileData** data);

private:
    friend class XFileData;
    XFileDataReference(std::shared_ptr<const XFileDocument> document, const XFileChild* child);
    ~XFileDataReference() override;

    std::shared_ptr<const XFileDocument> m_pDocument;
    const XFileChild* m_pChild;
};

// The top-level data objects of one parsed file.
class XFileEnumObject {
public:
    XFileEnumObject(const XFileEnumObject&) = delete;
    XFileEnumObject& operator=(const XFileEnumObject&) = delete;

    DWORD AddRef() { return ++m_dwRefs; }
    DWORD Release();

    // The next top-level data object in file order; DXFILEERR_NOMOREOBJECTS
    // after the last.
    HRESULT GetNextDataObject(XFileData** data);

private:
    friend class XFile;
    explicit XFileEnumObject(std::shared_ptr<const XFileDocument> document);
    ~XFileEnumObject();

    DWORD m_dwRefs = 1;
    std::shared_ptr<const XFileDocument> m_pDocument;
    std::size_t m_nNext = 0;
};

// The reader: the registered templates and the files opened with them.
class XFile {
public:
    XFile(const XFile&) = delete;
    XFile& operator=(const XFile&) = delete;

    DWORD AddRef() { return ++m_dwRefs; }
    DWORD Release();

    // Adds the templates of a text block (a file header, then template
    // definitions only). Nothing is registered when the block has a fault.
    HRESULT RegisterTemplates(const void* data, DWORD size);

    // Parses a whole file: source is a DXFILELOADRESOURCE for
    // DXFILELOAD_FROMRESOURCE or a DXFILELOADMEMORY for DXFILELOAD_FROMMEMORY
    // (the bytes are copied; they need not outlive the call). Other options
    // give DXFILEERR_BADVALUE, a missing resource DXFILEERR_RESOURCENOTFOUND,
    // a faulty file the fault's negative code.
    HRESULT CreateEnumObject(const void* source, DWORD options, XFileEnumObject** enumObject);

private:
    friend HRESULT DirectXFileCreate(XFile** file);
    XFile();
    ~XFile();

    DWORD m_dwRefs = 1;
    std::shared_ptr<const XFileTemplateSet> m_pTemplates;
};

// A new reader with no templates registered.
HRESULT DirectXFileCreate(XFile** file);

// The interface names of the DirectX file services.
using IDirectXFile = XFile;
using IDirectXFileEnumObject = XFileEnumObject;
using IDirectXFileObject = XFileObject;
using IDirectXFileData = XFileData;
using IDirectXFileDataReference = XFileDataReference;
