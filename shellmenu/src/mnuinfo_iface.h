// The record interface of the `mnuInfo` class: one menu item's command
// identifier, caption and picture. Shared with the tests.
#pragma once

#include <unknwn.h>
#include <windows.h>

// {54CCFF70-9DAC-4588-8598-DE3A0D82C982}
constexpr IID IID__mnuInfo = {
    0x54CCFF70, 0x9DAC, 0x4588, {0x85, 0x98, 0xDE, 0x3A, 0x0D, 0x82, 0xC9, 0x82}};

struct _mnuInfo : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE get_ItemID(LONG* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_ItemID(LONG value) = 0;
    // The caption is handed out as a copy the caller frees with CoTaskMemFree.
    virtual HRESULT STDMETHODCALLTYPE get_Caption(LPSTR* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Caption(LPCSTR value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_PictureIndex(LONG* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_PictureIndex(LONG value) = 0;
};
