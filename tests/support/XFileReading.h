// Generated X files read back through the program's own reader (gfx/XFile):
// the objects, names, members and children as the loaders receive them.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "gfx/XFile.h"

namespace testing_support {

// A reader object released when it goes.
template <class T>
struct Held {
    T* p = nullptr;
    Held() = default;
    explicit Held(T* object) : p(object) {}
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    ~Held() {
        if (p) p->Release();
    }
    T* operator->() const { return p; }
};

inline std::string NameOf(XFileObject* object) {
    DWORD size = 0;
    object->GetName(nullptr, &size);
    std::string name(size, '\0');
    object->GetName(name.data(), &size);
    name.resize(std::strlen(name.c_str()));
    return name;
}

inline bool IsType(XFileData* data, const GUID& type) {
    const GUID* t = nullptr;
    return SUCCEEDED(data->GetType(&t)) && *t == type;
}

// A member of the object's template, or null when it has none of that name.
template <class T>
const T* Member(XFileData* data, const char* member, DWORD* size = nullptr) {
    DWORD bytes = 0;
    void* p = nullptr;
    if (FAILED(data->GetData(member, &bytes, &p))) return nullptr;
    if (size) *size = bytes;
    return static_cast<const T*>(p);
}

// Calls `visit` for each child data object in file order; with `references`,
// the names of the frames the object refers to are collected there.
template <class Visit>
void Children(XFileData* data, Visit visit, std::vector<std::string>* references = nullptr) {
    XFileObject* child = nullptr;
    while (SUCCEEDED(data->GetNextObject(&child))) {
        Held<XFileObject> held(child);
        XFileData* childData = nullptr;
        XFileDataReference* ref = nullptr;
        if (SUCCEEDED(child->QueryInterface(IID_IDirectXFileData, reinterpret_cast<void**>(&childData)))) {
            Held<XFileData> heldData(childData);
            visit(childData);
        } else if (references != nullptr &&
                   SUCCEEDED(child->QueryInterface(IID_IDirectXFileDataReference, reinterpret_cast<void**>(&ref)))) {
            Held<XFileDataReference> heldRef(ref);
            XFileData* target = nullptr;
            if (SUCCEEDED(ref->Resolve(&target))) {
                Held<XFileData> heldTarget(target);
                if (IsType(target, TID_D3DRMFrame)) references->push_back(NameOf(target));
            }
        }
    }
}

// Reads `text` with the standard templates registered and calls `visit` for
// each top-level data object in file order.
template <class Visit>
::testing::AssertionResult ReadXText(const std::string& text, Visit visit) {
    Held<XFile> reader;
    if (FAILED(DirectXFileCreate(&reader.p)) ||
        FAILED(reader->RegisterTemplates(D3DRM_XTEMPLATES, D3DRM_XTEMPLATE_BYTES)))
        return ::testing::AssertionFailure() << "no reader";
    DXFILELOADMEMORY source{text.data(), static_cast<DWORD>(text.size())};
    Held<XFileEnumObject> objects;
    const HRESULT hr = reader->CreateEnumObject(&source, DXFILELOAD_FROMMEMORY, &objects.p);
    if (FAILED(hr)) return ::testing::AssertionFailure() << "does not parse: " << std::hex << hr;
    XFileData* data = nullptr;
    while (SUCCEEDED(objects->GetNextDataObject(&data))) {
        Held<XFileData> held(data);
        visit(data);
    }
    return ::testing::AssertionSuccess();
}

}  // namespace testing_support
