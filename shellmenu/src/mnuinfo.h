// mnuInfo: the record class the library registers beside clsTkshellmenu.
#pragma once

#include "mnuinfo_iface.h"

#include <string>

namespace tkshell {

class MnuInfo final : public _mnuInfo {
public:
    MnuInfo();
    MnuInfo(const MnuInfo&) = delete;
    MnuInfo& operator=(const MnuInfo&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE get_ItemID(LONG* value) override;
    HRESULT STDMETHODCALLTYPE put_ItemID(LONG value) override;
    HRESULT STDMETHODCALLTYPE get_Caption(LPSTR* value) override;
    HRESULT STDMETHODCALLTYPE put_Caption(LPCSTR value) override;
    HRESULT STDMETHODCALLTYPE get_PictureIndex(LONG* value) override;
    HRESULT STDMETHODCALLTYPE put_PictureIndex(LONG value) override;

private:
    ~MnuInfo();

    LONG references_ = 1;
    LONG itemId_ = 0;
    std::string caption_;
    LONG pictureIndex_ = 0;
};

} // namespace tkshell
