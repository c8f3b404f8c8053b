// advapi32's registry over the machine's store: values byte for byte, the predefined keys, the
// rights of a handle, key creation, enumeration and deletion, the ANSI calls, and change
// notifications.
#include "win32_fixture.h"

#include "kernel/registry_store.h"

#include <vector>

namespace {

class Registry : public Win32Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\Quen Test", 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &key_, nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override
    {
        RegCloseKey(key_);
        Win32Test::TearDown();
    }
    // An auto-reset event signalled at the key's next change of that kind.
    HANDLE Watch(HKEY key, BOOL subtree, DWORD filter)
    {
        HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        EXPECT_EQ(RegNotifyChangeKeyValue(key, subtree, filter, event, TRUE), ERROR_SUCCESS);
        return event;
    }
    HKEY key_ = nullptr;
};

TEST_F(Registry, ValuesReadBackByteForByteWithSizeQueries)
{
    const struct {
        const char *what;
        const wchar_t *name;
        DWORD type;
        std::vector<BYTE> bytes;
    } values[] = {
        {"string without terminator", L"unterminated", REG_SZ, {'a', 0, 'b', 0}},
        {"number", L"number", REG_DWORD, {0x78, 0x56, 0x34, 0x12}},
        {"empty binary", L"empty", REG_BINARY, {}},
        {"multi-string", L"list", REG_MULTI_SZ, {'x', 0, 0, 0, 0, 0}},
    };
    for (const auto &v : values) {
        SCOPED_TRACE(v.what);
        ASSERT_EQ(RegSetValueExW(key_, v.name, 0, v.type, v.bytes.data(), DWORD(v.bytes.size())),
                  ERROR_SUCCESS);
        DWORD type = 0, size = 0;
        EXPECT_EQ(RegQueryValueExW(key_, v.name, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
        EXPECT_EQ(type, v.type);
        EXPECT_EQ(size, v.bytes.size());
        std::vector<BYTE> data(size + 1, 0xEE);
        EXPECT_EQ(RegQueryValueExW(key_, v.name, nullptr, &type, data.data(), &size),
                  ERROR_SUCCESS);
        EXPECT_EQ(std::vector<BYTE>(data.begin(), data.begin() + size), v.bytes);
        EXPECT_EQ(data[size], 0xEE);
        if (size != 0) {
            DWORD small = size - 1;
            EXPECT_EQ(RegQueryValueExW(key_, v.name, nullptr, nullptr, data.data(), &small),
                      ERROR_MORE_DATA);
            EXPECT_EQ(small, size);
        }
    }
    DWORD size = 4;
    EXPECT_EQ(RegQueryValueExW(key_, L"missing", nullptr, nullptr, nullptr, &size),
              ERROR_FILE_NOT_FOUND);
}

TEST_F(Registry, PredefinedKeysAreTheMachineHives)
{
    DWORD one = 1;
    ASSERT_EQ(RegSetValueExW(key_, L"flag", 0, REG_DWORD, reinterpret_cast<BYTE *>(&one), 4),
              ERROR_SUCCESS);
    EXPECT_TRUE(M().Registry().GetValue(
        host::RegistryStore::CurrentUserPath() + u"\\SOFTWARE\\Quen Test", u"flag"));
    HKEY classes;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, L"CLSID\\quen", 0, nullptr, 0, KEY_WRITE, nullptr,
                              &classes, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(classes);
    EXPECT_TRUE(M().Registry().KeyExists(u"\\REGISTRY\\MACHINE\\SOFTWARE\\Classes\\CLSID\\quen"));
}

TEST_F(Registry, HandlesGrantOnlyTheRightsAskedFor)
{
    HKEY readOnly;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\Quen Test", 0,
                            KEY_READ | KEY_WOW64_64KEY, &readOnly),
              ERROR_SUCCESS);
    DWORD one = 1;
    EXPECT_EQ(RegSetValueExW(readOnly, L"x", 0, REG_DWORD, reinterpret_cast<BYTE *>(&one), 4),
              ERROR_ACCESS_DENIED);
    RegCloseKey(readOnly);
    HKEY queryOnly;
    ASSERT_EQ(
        RegOpenKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\Quen Test", 0, KEY_QUERY_VALUE, &queryOnly),
        ERROR_SUCCESS);
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    EXPECT_EQ(RegNotifyChangeKeyValue(queryOnly, FALSE, REG_NOTIFY_CHANGE_LAST_SET, event, TRUE),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegNotifyChangeKeyValue(queryOnly, FALSE, REG_NOTIFY_CHANGE_LAST_SET, nullptr, TRUE),
              ERROR_INVALID_PARAMETER);
    CloseHandle(event);
    RegCloseKey(queryOnly);
    HKEY both;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"SOFTWARE", 0,
                            KEY_READ | KEY_WOW64_64KEY | KEY_WOW64_32KEY, &both),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"\\SOFTWARE", 0, KEY_READ, &both),
              ERROR_BAD_PATHNAME);
    EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(0x7ffc)), ERROR_INVALID_HANDLE);
}

TEST_F(Registry, KeysAreCreatedWithTheirParentsEnumeratedAndDeleted)
{
    HKEY deep;
    DWORD disposition = 0;
    ASSERT_EQ(
        RegCreateKeyExW(key_, L"a\\b", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &deep, &disposition),
        ERROR_SUCCESS);
    EXPECT_EQ(disposition, DWORD(REG_CREATED_NEW_KEY));
    HKEY again;
    ASSERT_EQ(
        RegCreateKeyExW(key_, L"a\\b", 0, nullptr, 0, KEY_READ, nullptr, &again, &disposition),
        ERROR_SUCCESS);
    EXPECT_EQ(disposition, DWORD(REG_OPENED_EXISTING_KEY));
    RegCloseKey(again);
    WCHAR name[8];
    DWORD length = 8;
    EXPECT_EQ(RegEnumKeyExW(key_, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(length, 1u);
    EXPECT_EQ(name[0], L'a');
    length = 1;
    EXPECT_EQ(RegEnumKeyExW(key_, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_MORE_DATA);
    length = 8;
    EXPECT_EQ(RegEnumKeyExW(key_, 1, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);
    // A key with subkeys is not deleted; the tree goes at once, and open handles then fail.
    EXPECT_EQ(RegDeleteKeyW(key_, L"a"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteTreeW(key_, L"a"), ERROR_SUCCESS);
    DWORD one = 1;
    EXPECT_EQ(RegSetValueExW(deep, L"x", 0, REG_DWORD, reinterpret_cast<BYTE *>(&one), 4),
              ERROR_KEY_DELETED);
    RegCloseKey(deep);
}

TEST_F(Registry, AnsiCallsStoreAndReadWideStrings)
{
    HKEY ansi;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Quen Test", 0, KEY_ALL_ACCESS, &ansi),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(ansi, "name", 0, REG_SZ, reinterpret_cast<const BYTE *>("caf\xE9"), 5),
              ERROR_SUCCESS);
    WCHAR wide[8];
    DWORD size = sizeof wide;
    ASSERT_EQ(
        RegQueryValueExW(key_, L"name", nullptr, nullptr, reinterpret_cast<BYTE *>(wide), &size),
        ERROR_SUCCESS);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(wide[3], WCHAR(0xE9));
    char back[8];
    size = sizeof back;
    ASSERT_EQ(
        RegQueryValueExA(ansi, "name", nullptr, nullptr, reinterpret_cast<BYTE *>(back), &size),
        ERROR_SUCCESS);
    EXPECT_EQ(size, 5u);
    EXPECT_STREQ(back, "caf\xE9");
    RegCloseKey(ansi);
}

TEST_F(Registry, NotificationReportsOneMatchingChangeAfterArming)
{
    DWORD one = 1;
    HKEY child;
    ASSERT_EQ(
        RegCreateKeyExW(key_, L"child", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr),
        ERROR_SUCCESS);
    const struct {
        const char *what;
        BOOL subtree;
        DWORD filter;
        bool inChild; // the change is a value written in the child, else in the key itself
        bool signalled;
    } cases[] = {
        {"value written, values watched", FALSE, REG_NOTIFY_CHANGE_LAST_SET, false, true},
        {"value written, names watched", FALSE, REG_NOTIFY_CHANGE_NAME, false, false},
        {"child's value, subtree watched", TRUE, REG_NOTIFY_CHANGE_LAST_SET, true, true},
        {"child's value, key alone watched", FALSE, REG_NOTIFY_CHANGE_LAST_SET, true, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        HKEY watched;
        ASSERT_EQ(RegOpenKeyExW(key_, nullptr, 0, KEY_NOTIFY | KEY_SET_VALUE, &watched),
                  ERROR_SUCCESS);
        // A change made before the call is not reported.
        RegSetValueExW(key_, L"v", 0, REG_DWORD, reinterpret_cast<BYTE *>(&one), 4);
        HANDLE event = Watch(watched, c.subtree, c.filter);
        EXPECT_EQ(WaitForSingleObject(event, 0), DWORD(WAIT_TIMEOUT));
        RegSetValueExW(c.inChild ? child : key_, L"v", 0, REG_DWORD, reinterpret_cast<BYTE *>(&one),
                       4);
        EXPECT_EQ(WaitForSingleObject(event, 0), c.signalled ? WAIT_OBJECT_0 : DWORD(WAIT_TIMEOUT));
        // One change, one signal: a second change waits for the next call.
        RegSetValueExW(c.inChild ? child : key_, L"v", 0, REG_DWORD, reinterpret_cast<BYTE *>(&one),
                       4);
        if (c.signalled) {
            EXPECT_EQ(WaitForSingleObject(event, 0), DWORD(WAIT_TIMEOUT));
        }
        // Closing the watched key signals a pending notification.
        RegCloseKey(watched);
        EXPECT_EQ(WaitForSingleObject(event, 0), c.signalled ? DWORD(WAIT_TIMEOUT) : WAIT_OBJECT_0);
        CloseHandle(event);
    }
    RegCloseKey(child);
}

TEST_F(Registry, SynchronousNotificationReturnsAtTheChange)
{
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](LPVOID) -> DWORD {
            Sleep(30);
            HKEY key;
            RegOpenKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\Quen Test", 0, KEY_WRITE, &key);
            RegCreateKeyExW(key, L"new", 0, nullptr, 0, KEY_READ, nullptr, &key, nullptr);
            return 0;
        },
        nullptr, 0, nullptr);
    ULONGLONG start = NowMs();
    EXPECT_EQ(RegNotifyChangeKeyValue(key_, TRUE, REG_NOTIFY_CHANGE_NAME, nullptr, FALSE),
              ERROR_SUCCESS);
    EXPECT_EQ(NowMs() - start, 30u);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}

} // namespace
