// The in-process server: entry points, class factory and self-registration.
#include "messages.h"
#include "mnuinfo.h"
#include "module.h"
#include "shellmenu.h"

#include <new>
#include <olectl.h>
#include <string>

namespace tkshell {

HINSTANCE g_module = nullptr;

namespace {

LONG g_objects = 0;
LONG g_locks = 0;

template <class Object> class ClassFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (!object)
            return E_POINTER;
        if (iid != IID_IUnknown && iid != IID_IClassFactory) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override
    {
        return static_cast<ULONG>(InterlockedIncrement(&references_));
    }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        auto* created = new (std::nothrow) Object();
        if (!created)
            return E_OUTOFMEMORY;
        const HRESULT result = created->QueryInterface(iid, object);
        created->Release();
        return result;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override
    {
        lockServer(lock != FALSE);
        return S_OK;
    }

    ClassFactory() { objectCreated(); }
    ClassFactory(const ClassFactory&) = delete;
    ClassFactory& operator=(const ClassFactory&) = delete;

private:
    ~ClassFactory() { objectDestroyed(); }
    LONG references_ = 1;
};

struct ClassEntry {
    const CLSID* clsid;
    const char* progId;
};

const ClassEntry kClasses[] = {{&kClsidTkshellmenu, kProgIdTkshellmenu},
                               {&kClsidMnuInfo, kProgIdMnuInfo}};

std::string clsidText(const CLSID& clsid)
{
    wchar_t wide[64] = {};
    StringFromGUID2(clsid, wide, 64);
    char text[64] = {};
    WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof(text), nullptr, nullptr);
    return text;
}

bool setValue(const std::string& key, const char* name, const std::string& value)
{
    HKEY handle = nullptr;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle,
                        nullptr) != ERROR_SUCCESS)
        return false;
    const LONG result =
        RegSetValueExA(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>(value.size() + 1));
    RegCloseKey(handle);
    return result == ERROR_SUCCESS;
}

bool removeKey(const std::string& key)
{
    // Removes the key with everything below it; a key already gone is fine.
    const LONG result = RegDeleteTreeA(HKEY_CLASSES_ROOT, key.c_str());
    return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
}

bool registerClass(const ClassEntry& entry, const std::string& serverPath)
{
    const std::string clsidKey = "CLSID\\" + clsidText(*entry.clsid);
    return setValue(clsidKey, nullptr, entry.progId) &&
           setValue(clsidKey + "\\InprocServer32", nullptr, serverPath) &&
           setValue(clsidKey + "\\InprocServer32", "ThreadingModel", "Apartment") &&
           setValue(clsidKey + "\\ProgID", nullptr, entry.progId) &&
           setValue(entry.progId, nullptr, entry.progId) &&
           setValue(std::string(entry.progId) + "\\CLSID", nullptr, clsidText(*entry.clsid));
}

bool unregisterClass(const ClassEntry& entry)
{
    const bool clsidGone = removeKey("CLSID\\" + clsidText(*entry.clsid));
    const bool progIdGone = removeKey(entry.progId);
    return clsidGone && progIdGone;
}

} // namespace

void objectCreated()
{
    InterlockedIncrement(&g_objects);
}

void objectDestroyed()
{
    InterlockedDecrement(&g_objects);
}

void lockServer(bool lock)
{
    if (lock)
        InterlockedIncrement(&g_locks);
    else
        InterlockedDecrement(&g_locks);
}

bool serverInUse()
{
    return g_objects > 0 || g_locks > 0;
}

} // namespace tkshell

using namespace tkshell;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    IClassFactory* factory = nullptr;
    if (clsid == kClsidTkshellmenu)
        factory = new (std::nothrow) ClassFactory<ShellMenu>();
    else if (clsid == kClsidMnuInfo)
        factory = new (std::nothrow) ClassFactory<MnuInfo>();
    else
        return CLASS_E_CLASSNOTAVAILABLE;
    if (!factory)
        return E_OUTOFMEMORY;
    const HRESULT result = factory->QueryInterface(iid, object);
    factory->Release();
    return result;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow()
{
    return serverInUse() ? S_FALSE : S_OK;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer()
{
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(g_module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return SELFREG_E_CLASS;
    for (const ClassEntry& entry : kClasses)
        if (!registerClass(entry, path)) {
            for (const ClassEntry& written : kClasses)
                unregisterClass(written);
            return SELFREG_E_CLASS;
        }
    return S_OK;
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer()
{
    bool removed = true;
    for (const ClassEntry& entry : kClasses)
        removed = unregisterClass(entry) && removed;
    return removed ? S_OK : SELFREG_E_CLASS;
}

// Lets a test take the extension's message boxes instead of showing them.
extern "C" void WINAPI TkShellMenuSetMessageSink(MessageSink sink)
{
    setMessageSink(sink);
}
