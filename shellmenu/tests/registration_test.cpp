// The server's frame: self-registration, the class factory, object life and
// the unload answer.
#include "harness.h"

#include "mnuinfo_iface.h"

namespace {

const std::string kShellClsid = "{D8741F86-56AF-4624-99B5-598A71CF6F89}";
const std::string kRecordClsid = "{E30F253E-C90C-405C-A4E2-D014C52181E5}";

bool keyExists(const std::string& key)
{
    HKEY handle = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

std::string classesValue(const std::string& key, const char* name)
{
    char value[MAX_PATH * 2] = {};
    DWORD size = sizeof(value);
    if (RegGetValueA(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ, nullptr, value, &size) !=
        ERROR_SUCCESS)
        return "<missing>";
    return value;
}

std::string lower(std::string text)
{
    CharLowerA(text.data());
    return text;
}

} // namespace

TEST_CASE(registration_writes_both_classes_and_unregistration_removes_them)
{
    const std::string shellClsid = "CLSID\\" + kShellClsid;
    const std::string recordClsid = "CLSID\\" + kRecordClsid;

    CHECK_EQ(library().registerServer(), S_OK);
    CHECK_EQ(lower(classesValue(shellClsid + "\\InprocServer32", nullptr)), lower(library().path));
    CHECK_EQ(classesValue(shellClsid + "\\InprocServer32", "ThreadingModel"),
             std::string("Apartment"));
    CHECK_EQ(classesValue(shellClsid + "\\ProgID", nullptr), std::string("Orvanta.clsTkshellmenu"));
    CHECK_EQ(classesValue("Orvanta.clsTkshellmenu\\CLSID", nullptr), kShellClsid);
    CHECK_EQ(lower(classesValue(recordClsid + "\\InprocServer32", nullptr)), lower(library().path));
    CHECK_EQ(classesValue(recordClsid + "\\InprocServer32", "ThreadingModel"),
             std::string("Apartment"));
    CHECK_EQ(classesValue("Orvanta.mnuInfo\\CLSID", nullptr), kRecordClsid);

    // The system's own activation now finds the handler by its identifiers.
    CLSID fromProgId = {};
    CHECK_EQ(CLSIDFromProgID(L"Orvanta.clsTkshellmenu", &fromProgId), S_OK);
    CHECK(IsEqualCLSID(fromProgId, kClsidTkshellmenu));
    IContextMenu* activated = nullptr;
    CHECK_EQ(CoCreateInstance(kClsidTkshellmenu, nullptr, CLSCTX_INPROC_SERVER, IID_IContextMenu,
                              reinterpret_cast<void**>(&activated)),
             S_OK);
    if (activated)
        activated->Release();

    // Registering again is harmless.
    CHECK_EQ(library().registerServer(), S_OK);

    CHECK_EQ(library().unregisterServer(), S_OK);
    CHECK(!keyExists(shellClsid));
    CHECK(!keyExists(recordClsid));
    CHECK(!keyExists("Orvanta.clsTkshellmenu"));
    CHECK(!keyExists("Orvanta.mnuInfo"));
    CHECK(FAILED(CLSIDFromProgID(L"Orvanta.clsTkshellmenu", &fromProgId)));
    // Nothing left to remove is not a failure.
    CHECK_EQ(library().unregisterServer(), S_OK);
}

TEST_CASE(class_factory_serves_the_handler_and_the_record_class_only)
{
    IClassFactory* factory = nullptr;
    CHECK_EQ(library().getClassObject(CLSID_ShellLink, IID_IClassFactory,
                                      reinterpret_cast<void**>(&factory)),
             CLASS_E_CLASSNOTAVAILABLE);
    CHECK(factory == nullptr);

    CHECK_EQ(library().getClassObject(kClsidTkshellmenu, IID_IClassFactory,
                                      reinterpret_cast<void**>(&factory)),
             S_OK);
    if (!factory)
        return;
    IUnknown* outer = factory; // any non-null outer object asks for aggregation
    IUnknown* aggregated = nullptr;
    CHECK_EQ(factory->CreateInstance(outer, IID_IUnknown, reinterpret_cast<void**>(&aggregated)),
             CLASS_E_NOAGGREGATION);
    IUnknown* unknown = nullptr;
    CHECK_EQ(factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&unknown)),
             S_OK);
    factory->Release();
    if (!unknown)
        return;

    // Every shell interface leads back to the same object.
    const IID* interfaces[] = {&IID_IShellExtInit, &IID_IContextMenu, &IID_IContextMenu2,
                               &IID_IContextMenu3};
    for (const IID* iid : interfaces) {
        IUnknown* asked = nullptr;
        CHECK_EQ(unknown->QueryInterface(*iid, reinterpret_cast<void**>(&asked)), S_OK);
        if (!asked)
            continue;
        IUnknown* identity = nullptr;
        asked->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
        CHECK(identity == unknown);
        if (identity)
            identity->Release();
        asked->Release();
    }
    IUnknown* other = nullptr;
    CHECK_EQ(unknown->QueryInterface(IID_IShellFolder, reinterpret_cast<void**>(&other)),
             E_NOINTERFACE);
    CHECK(other == nullptr);
    unknown->Release();
}

TEST_CASE(records_keep_their_properties)
{
    IClassFactory* factory = nullptr;
    CHECK_EQ(library().getClassObject(kClsidMnuInfo, IID_IClassFactory,
                                      reinterpret_cast<void**>(&factory)),
             S_OK);
    if (!factory)
        return;
    _mnuInfo* record = nullptr;
    CHECK_EQ(factory->CreateInstance(nullptr, IID__mnuInfo, reinterpret_cast<void**>(&record)),
             S_OK);
    factory->Release();
    if (!record)
        return;
    record->put_ItemID(104);
    record->put_Caption(kSerialCaption);
    record->put_PictureIndex(2);
    LONG id = 0, picture = 0;
    LPSTR caption = nullptr;
    record->get_ItemID(&id);
    record->get_PictureIndex(&picture);
    record->get_Caption(&caption);
    CHECK_EQ(id, 104L);
    CHECK_EQ(picture, 2L);
    CHECK_EQ(std::string(caption ? caption : ""), std::string(kSerialCaption));
    CoTaskMemFree(caption);
    record->Release();
}

TEST_CASE(library_stays_loaded_while_objects_or_locks_are_alive)
{
    CHECK_EQ(library().canUnloadNow(), S_OK);
    IClassFactory* factory = nullptr;
    library().getClassObject(kClsidTkshellmenu, IID_IClassFactory,
                             reinterpret_cast<void**>(&factory));
    if (!factory)
        return;
    CHECK_EQ(library().canUnloadNow(), S_FALSE);
    IContextMenu* menu = nullptr;
    factory->CreateInstance(nullptr, IID_IContextMenu, reinterpret_cast<void**>(&menu));
    factory->LockServer(TRUE);
    factory->Release();
    CHECK_EQ(library().canUnloadNow(), S_FALSE);
    if (menu)
        menu->Release();
    CHECK_EQ(library().canUnloadNow(), S_FALSE); // the lock still holds it
    IClassFactory* again = nullptr;
    library().getClassObject(kClsidTkshellmenu, IID_IClassFactory,
                             reinterpret_cast<void**>(&again));
    if (again) {
        again->LockServer(FALSE);
        again->Release();
    }
    CHECK_EQ(library().canUnloadNow(), S_OK);
}
