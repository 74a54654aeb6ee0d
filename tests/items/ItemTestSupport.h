// Set-up shared by the item store tests: a store in a fresh folder and a
// compact way to write items.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ItemStore.h"
#include "TempFolder.h"

namespace itemtest {

// An item by guid, link, title and date (seconds; 0 for none).
inline items::TStoredItem Item(std::string guid, std::string link, std::string title, std::int64_t date = 0,
                               std::string body = {}) {
    items::TStoredItem item;
    item.Guid = std::move(guid);
    item.Link = std::move(link);
    item.Title = std::move(title);
    if (date != 0) {
        item.DateUTC = date;
        item.DateText = std::to_string(date);
    }
    item.Body = std::move(body);
    return item;
}

inline std::unique_ptr<items::TItemStore> OpenStore(const std::string& path, const items::TStoreOptions& options = {}) {
    items::TOpenResult opened = items::TItemStore::Open(path, options);
    EXPECT_TRUE(opened.Store) << opened.Message;
    EXPECT_EQ(opened.Message, "");
    return std::move(opened.Store);
}

class StoreTest : public ::testing::Test {
protected:
    std::string DbPath() const { return folder.File(items::TItemStore::kFileName); }
    items::TItemStore& Store() {
        if (!store) store = OpenStore(DbPath(), options);
        return *store;
    }

    testsupport::TempFolder folder{"quillet-items"};
    items::TStoreOptions options;
    std::unique_ptr<items::TItemStore> store;
};

}  // namespace itemtest
