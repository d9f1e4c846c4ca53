#include "mnuinfo.h"

#include "module.h"

#include <cstring>
#include <objbase.h>

namespace tkshell {

MnuInfo::MnuInfo()
{
    objectCreated();
}

MnuInfo::~MnuInfo()
{
    objectDestroyed();
}

HRESULT MnuInfo::QueryInterface(REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    if (iid != IID_IUnknown && iid != IID__mnuInfo) {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    *object = static_cast<_mnuInfo*>(this);
    AddRef();
    return S_OK;
}

ULONG MnuInfo::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&references_));
}

ULONG MnuInfo::Release()
{
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0)
        delete this;
    return static_cast<ULONG>(left);
}

HRESULT MnuInfo::get_ItemID(LONG* value)
{
    if (!value)
        return E_POINTER;
    *value = itemId_;
    return S_OK;
}

HRESULT MnuInfo::put_ItemID(LONG value)
{
    itemId_ = value;
    return S_OK;
}

HRESULT MnuInfo::get_Caption(LPSTR* value)
{
    if (!value)
        return E_POINTER;
    *value = static_cast<LPSTR>(CoTaskMemAlloc(caption_.size() + 1));
    if (!*value)
        return E_OUTOFMEMORY;
    std::memcpy(*value, caption_.c_str(), caption_.size() + 1);
    return S_OK;
}

HRESULT MnuInfo::put_Caption(LPCSTR value)
{
    caption_ = value ? value : "";
    return S_OK;
}

HRESULT MnuInfo::get_PictureIndex(LONG* value)
{
    if (!value)
        return E_POINTER;
    *value = pictureIndex_;
    return S_OK;
}

HRESULT MnuInfo::put_PictureIndex(LONG value)
{
    pictureIndex_ = value;
    return S_OK;
}

} // namespace tkshell
