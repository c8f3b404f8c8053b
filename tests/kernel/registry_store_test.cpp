// The machine-wide registry store on its own: paths, values, deletion, enumeration order, times
// and change watches.
#include "registry_test_support.h"

#include <gtest/gtest.h>

using host::RegistryKey;
using host::RegistryKeyInfo;
using host::RegistryStore;
using host::RegistryValue;

namespace {

class RegistryStoreTest : public ::testing::Test {
protected:
    RegistryKey Create(const std::u16string &path)
    {
        RegistryKey key;
        ULONG disposition = 0;
        EXPECT_EQ(STATUS_SUCCESS, store_.CreateKey(nullptr, path, true, u"", &key, &disposition));
        return key;
    }

    LONGLONG now_ = 132000000000000000;
    RegistryStore store_{[this] { return now_; }};
};

TEST_F(RegistryStoreTest, KeyNamesAreCaseInsensitiveAndKeepTheirSpelling)
{
    RegistryKey created = Create(u"\\Registry\\Machine\\SOFTWARE\\ZEL\\Sample Device Performance");
    RegistryKey opened;
    ASSERT_EQ(STATUS_SUCCESS,
              store_.OpenKey(nullptr,
                             u"\\REGISTRY\\machine\\software\\zel\\SAMPLE DEVICE performance",
                             &opened));
    EXPECT_EQ(created, opened);
    RegistryKeyInfo info;
    ASSERT_EQ(STATUS_SUCCESS, store_.QueryKey(opened, &info));
    EXPECT_EQ(u"Sample Device Performance", info.name);
    EXPECT_EQ(u"\\REGISTRY\\MACHINE\\SOFTWARE\\ZEL\\Sample Device Performance", info.path);
}

TEST_F(RegistryStoreTest, ValuesKeepTheExactBytesWritten)
{
    RegistryKey key = Create(u"\\Registry\\Machine\\SOFTWARE\\Test");
    std::vector<UCHAR> unterminated = Utf16Bytes(u"USB\\VID_1D6B", false);
    ASSERT_EQ(STATUS_SUCCESS,
              store_.SetValue(key, u"selected", REG_SZ, unterminated.data(), unterminated.size()));
    RegistryValue value;
    ASSERT_EQ(STATUS_SUCCESS, store_.QueryValue(key, u"SELECTED", &value));
    EXPECT_EQ(ULONG(REG_SZ), value.type);
    EXPECT_EQ(unterminated, value.data);
    EXPECT_EQ(u"selected", value.name);

    // Rewriting keeps the first spelling of the name and replaces type and data.
    UCHAR one = 1;
    ASSERT_EQ(STATUS_SUCCESS, store_.SetValue(key, u"Selected", REG_BINARY, &one, 1));
    ASSERT_EQ(STATUS_SUCCESS, store_.QueryValue(key, u"selected", &value));
    EXPECT_EQ(ULONG(REG_BINARY), value.type);
    EXPECT_EQ(std::vector<UCHAR>{1}, value.data);
    EXPECT_EQ(u"selected", value.name);
}

TEST_F(RegistryStoreTest, MissingKeysAndValuesAreNotFound)
{
    RegistryKey key;
    EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND,
              store_.OpenKey(nullptr, u"\\Registry\\Machine\\SOFTWARE\\Nobody\\Deeper", &key));
    key = Create(u"\\Registry\\Machine\\SOFTWARE\\Somebody");
    RegistryValue value;
    EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND, store_.QueryValue(key, u"absent", &value));
    EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND, store_.DeleteValue(key, u"absent"));
}

TEST_F(RegistryStoreTest, CreateNeedsTheParentUnlessAskedToCreateParents)
{
    RegistryKey key;
    ULONG disposition = 0;
    EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND,
              store_.CreateKey(nullptr, u"\\Registry\\Machine\\SOFTWARE\\A\\B", false, u"", &key,
                               &disposition));
    ASSERT_EQ(STATUS_SUCCESS, store_.CreateKey(nullptr, u"\\Registry\\Machine\\SOFTWARE\\A", false,
                                               u"", &key, &disposition));
    EXPECT_EQ(ULONG(REG_CREATED_NEW_KEY), disposition);
    ASSERT_EQ(STATUS_SUCCESS, store_.CreateKey(key, u"B", false, u"", &key, &disposition));
    EXPECT_EQ(ULONG(REG_CREATED_NEW_KEY), disposition);
    ASSERT_EQ(STATUS_SUCCESS, store_.CreateKey(nullptr, u"\\Registry\\Machine\\SOFTWARE\\a\\b",
                                               false, u"", &key, &disposition));
    EXPECT_EQ(ULONG(REG_OPENED_EXISTING_KEY), disposition);
}

TEST_F(RegistryStoreTest, MalformedPathsAreRejected)
{
    RegistryKey key;
    RegistryKey software = Create(u"\\Registry\\Machine\\SOFTWARE");
    EXPECT_EQ(STATUS_OBJECT_PATH_SYNTAX_BAD,
              store_.OpenKey(nullptr, u"Registry\\Machine", &key)); // absolute without '\'
    EXPECT_EQ(STATUS_OBJECT_PATH_SYNTAX_BAD, store_.OpenKey(software, u"\\ZEL", &key));
    EXPECT_EQ(STATUS_OBJECT_NAME_INVALID,
              store_.OpenKey(nullptr, u"\\Registry\\Machine\\\\SOFTWARE", &key));
    EXPECT_EQ(STATUS_OBJECT_NAME_INVALID, store_.OpenKey(nullptr, u"\\Registry\\Machine\\", &key));
    EXPECT_EQ(STATUS_OBJECT_PATH_NOT_FOUND, store_.OpenKey(nullptr, u"\\Device\\Thing", &key));
    // An empty relative path names the base key itself.
    ASSERT_EQ(STATUS_SUCCESS, store_.OpenKey(software, u"", &key));
    EXPECT_EQ(software, key);
}

TEST_F(RegistryStoreTest, DeleteKeyRefusesSubkeysAndHiveRoots)
{
    RegistryKey parent = Create(u"\\Registry\\Machine\\SOFTWARE\\Parent");
    RegistryKey child = Create(u"\\Registry\\Machine\\SOFTWARE\\Parent\\Child");
    EXPECT_EQ(STATUS_CANNOT_DELETE, store_.DeleteKey(parent));
    RegistryKey software;
    ASSERT_EQ(STATUS_SUCCESS, store_.OpenKey(nullptr, u"\\Registry\\Machine\\Software", &software));
    EXPECT_EQ(STATUS_CANNOT_DELETE, store_.DeleteKey(software));
    EXPECT_EQ(STATUS_CANNOT_DELETE, store_.DeleteTree(software));

    ASSERT_EQ(STATUS_SUCCESS, store_.DeleteKey(child));
    ASSERT_EQ(STATUS_SUCCESS, store_.DeleteKey(parent));
    EXPECT_FALSE(store_.KeyExists(u"\\Registry\\Machine\\SOFTWARE\\Parent"));
}

TEST_F(RegistryStoreTest, DeletedKeysFailEveryOperationThroughOldReferences)
{
    RegistryKey top = Create(u"\\Registry\\Machine\\SOFTWARE\\Tree");
    RegistryKey leaf = Create(u"\\Registry\\Machine\\SOFTWARE\\Tree\\Branch\\Leaf");
    ASSERT_EQ(STATUS_SUCCESS, store_.DeleteTree(top));
    RegistryValue value;
    RegistryKeyInfo info;
    RegistryKey key;
    ULONG disposition;
    EXPECT_EQ(STATUS_KEY_DELETED, store_.QueryValue(leaf, u"x", &value));
    EXPECT_EQ(STATUS_KEY_DELETED, store_.SetValue(leaf, u"x", REG_NONE, nullptr, 0));
    EXPECT_EQ(STATUS_KEY_DELETED, store_.QueryKey(top, &info));
    EXPECT_EQ(STATUS_KEY_DELETED, store_.CreateKey(top, u"New", false, u"", &key, &disposition));
    EXPECT_EQ(STATUS_KEY_DELETED, store_.DeleteKey(leaf));
    EXPECT_FALSE(store_.KeyExists(u"\\Registry\\Machine\\SOFTWARE\\Tree"));
}

TEST_F(RegistryStoreTest, EnumeratesSubkeysByNameAndValuesInWriteOrder)
{
    RegistryKey key = Create(u"\\Registry\\Machine\\SOFTWARE\\Order");
    Create(u"\\Registry\\Machine\\SOFTWARE\\Order\\zeta");
    Create(u"\\Registry\\Machine\\SOFTWARE\\Order\\Alpha");
    Create(u"\\Registry\\Machine\\SOFTWARE\\Order\\beta");
    for (const char16_t *name : {u"second", u"first", u"third"})
        ASSERT_EQ(STATUS_SUCCESS, store_.SetValue(key, name, REG_NONE, nullptr, 0));

    std::vector<std::u16string> keys;
    RegistryKeyInfo info;
    for (ULONG i = 0; store_.EnumerateKey(key, i, &info) == STATUS_SUCCESS; ++i)
        keys.push_back(info.name);
    EXPECT_EQ((std::vector<std::u16string>{u"Alpha", u"beta", u"zeta"}), keys);
    EXPECT_EQ(STATUS_NO_MORE_ENTRIES, store_.EnumerateKey(key, 3, &info));

    std::vector<std::u16string> values;
    RegistryValue value;
    for (ULONG i = 0; store_.EnumerateValue(key, i, &value) == STATUS_SUCCESS; ++i)
        values.push_back(value.name);
    EXPECT_EQ((std::vector<std::u16string>{u"second", u"first", u"third"}), values);
    EXPECT_EQ(STATUS_NO_MORE_ENTRIES, store_.EnumerateValue(key, 3, &value));
}

TEST_F(RegistryStoreTest, QueryKeyReportsCountsAndLargestSizes)
{
    RegistryKey key = Create(u"\\Registry\\Machine\\SOFTWARE\\Sizes");
    Create(u"\\Registry\\Machine\\SOFTWARE\\Sizes\\abc");
    Create(u"\\Registry\\Machine\\SOFTWARE\\Sizes\\abcdef");
    std::vector<UCHAR> data(10, 0x55);
    ASSERT_EQ(STATUS_SUCCESS, store_.SetValue(key, u"v", REG_BINARY, data.data(), data.size()));
    ASSERT_EQ(STATUS_SUCCESS, store_.SetValue(key, u"value", REG_BINARY, data.data(), 3));
    RegistryKeyInfo info;
    ASSERT_EQ(STATUS_SUCCESS, store_.QueryKey(key, &info));
    EXPECT_EQ(2u, info.subKeys);
    EXPECT_EQ(12u, info.maxSubKeyNameBytes);
    EXPECT_EQ(2u, info.values);
    EXPECT_EQ(10u, info.maxValueNameBytes);
    EXPECT_EQ(10u, info.maxValueDataBytes);
}

TEST_F(RegistryStoreTest, LastWriteTimeFollowsTheClock)
{
    RegistryKey key = Create(u"\\Registry\\Machine\\SOFTWARE\\Timed");
    now_ += 5000;
    ASSERT_EQ(STATUS_SUCCESS, store_.SetValue(key, u"v", REG_NONE, nullptr, 0));
    RegistryKeyInfo info;
    ASSERT_EQ(STATUS_SUCCESS, store_.QueryKey(key, &info));
    EXPECT_EQ(now_, info.lastWriteTime);
}

TEST_F(RegistryStoreTest, HelpersWriteTypedValuesAndCreateKeys)
{
    const std::u16string path = u"\\Registry\\Machine\\SOFTWARE\\ZEL\\Sample Device Performance";
    ASSERT_EQ(STATUS_SUCCESS, store_.SetDword(path, u"param1", 3));
    ASSERT_EQ(STATUS_SUCCESS, store_.SetString(path, u"name", u"ab"));
    auto dword = store_.GetValue(path, u"PARAM1");
    ASSERT_TRUE(dword.has_value());
    EXPECT_EQ(ULONG(REG_DWORD), dword->type);
    EXPECT_EQ(DwordBytes(3), dword->data);
    auto text = store_.GetValue(path, u"name");
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(Utf16Bytes(u"ab", true), text->data);
    EXPECT_FALSE(store_.GetValue(path, u"param2").has_value());
    ASSERT_EQ(STATUS_SUCCESS, store_.DeleteKeyTree(u"\\Registry\\Machine\\SOFTWARE\\ZEL"));
    EXPECT_FALSE(store_.KeyExists(path));
    EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND,
              store_.DeleteKeyTree(u"\\Registry\\Machine\\SOFTWARE\\ZEL"));
}

TEST_F(RegistryStoreTest, TheCurrentUserHasAHiveWithASoftwareKey)
{
    EXPECT_EQ(0u, RegistryStore::CurrentUserPath().find(u"\\REGISTRY\\USER\\S-1-5-21-"));
    EXPECT_TRUE(store_.KeyExists(RegistryStore::CurrentUserPath() + u"\\Software"));
    EXPECT_TRUE(store_.KeyExists(u"\\Registry\\Machine\\System\\CurrentControlSet\\Enum"));
}

// ----- Change watches

class RegistryWatchTest : public RegistryStoreTest {
protected:
    void Arm(RegistryStore::WatchId watch)
    {
        store_.ArmWatch(watch, [this] { ++fired_; });
    }
    int fired_ = 0;
};

TEST_F(RegistryWatchTest, FiresOnceAndRemembersChangesUntilRearmed)
{
    RegistryKey key = Create(u"\\Registry\\User\\.DEFAULT\\Watched");
    auto watch = store_.CreateWatch(key, false, REG_NOTIFY_CHANGE_LAST_SET);
    Arm(watch);
    EXPECT_EQ(0, fired_);
    ASSERT_EQ(STATUS_SUCCESS, store_.SetValue(key, u"a", REG_NONE, nullptr, 0));
    EXPECT_EQ(1, fired_);
    ASSERT_EQ(STATUS_SUCCESS, store_.SetValue(key, u"b", REG_NONE, nullptr, 0));
    ASSERT_EQ(STATUS_SUCCESS, store_.DeleteValue(key, u"a"));
    EXPECT_EQ(1, fired_); // not armed: remembered
    Arm(watch);
    EXPECT_EQ(2, fired_); // the remembered change fires at once, only once
    Arm(watch);
    EXPECT_EQ(2, fired_);
    store_.CloseWatch(watch);
}

TEST_F(RegistryWatchTest, SubtreeWatchesSeeChangesBelowTheKey)
{
    RegistryKey top = Create(u"\\Registry\\User\\.DEFAULT\\Top");
    RegistryKey below = Create(u"\\Registry\\User\\.DEFAULT\\Top\\Below");
    auto tree = store_.CreateWatch(top, true, REG_NOTIFY_CHANGE_LAST_SET);
    auto flat = store_.CreateWatch(top, false, REG_NOTIFY_CHANGE_LAST_SET);
    int flatFired = 0;
    Arm(tree);
    store_.ArmWatch(flat, [&] { ++flatFired; });
    ASSERT_EQ(STATUS_SUCCESS, store_.SetValue(below, u"v", REG_NONE, nullptr, 0));
    EXPECT_EQ(1, fired_);
    EXPECT_EQ(0, flatFired);
    store_.CloseWatch(tree);
    store_.CloseWatch(flat);
    EXPECT_EQ(1, flatFired); // closing an armed watch wakes its waiter
}

TEST_F(RegistryWatchTest, TheFilterSelectsNameOrValueChanges)
{
    RegistryKey key = Create(u"\\Registry\\User\\.DEFAULT\\Filtered");
    auto names = store_.CreateWatch(key, false, REG_NOTIFY_CHANGE_NAME);
    Arm(names);
    ASSERT_EQ(STATUS_SUCCESS, store_.SetValue(key, u"v", REG_NONE, nullptr, 0));
    EXPECT_EQ(0, fired_);
    Create(u"\\Registry\\User\\.DEFAULT\\Filtered\\Sub");
    EXPECT_EQ(1, fired_);
    store_.CloseWatch(names);
}

TEST_F(RegistryWatchTest, DeletingTheWatchedKeyFiresWhateverTheFilter)
{
    RegistryKey key = Create(u"\\Registry\\User\\.DEFAULT\\Doomed");
    auto watch = store_.CreateWatch(key, false, REG_NOTIFY_CHANGE_LAST_SET);
    Arm(watch);
    ASSERT_EQ(STATUS_SUCCESS, store_.DeleteKey(key));
    EXPECT_EQ(1, fired_);
    Arm(watch); // a deleted key completes every request at once
    EXPECT_EQ(2, fired_);
    store_.CloseWatch(watch);
}

} // namespace
