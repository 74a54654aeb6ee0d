// Feed-server accounts with no window: the update rig with the accounts'
// controller wired to it as the window wires its own (the list's rows, the
// item store, the update cycle, the status line, the account's row).
// Nothing is asked: the password prompt answers "cancelled" until a test
// sets its own.
#pragma once

#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "AccountController.h"
#include "FeedPropertiesController.h"
#include "UpdateRig.h"

namespace apptest {

class TAccountRig : public TUpdateRig {
public:
    TAccountRig();
    ~TAccountRig() override;

    TAccountController& Accounts() { return *FAccountController; }
    // Feed Properties, whose changes of an account's feed go to its server.
    TFeedPropertiesController& Properties() { return *FProperties; }
    // An account's folder row; null while it has none.
    TFolderNode* AccountRow(const std::string& accountId);
    // The feed row with this caption in the account's folder; null for none.
    TFeedNode* AccountFeed(const std::string& accountId, const std::string& caption);
    // The errors the window would have shown in a message box.
    const std::vector<std::string>& Errors() const { return FErrors; }

private:
    std::unique_ptr<TAccountController> FAccountController;
    std::vector<std::string> FErrors;
    TFeedPropertiesController* FProperties = nullptr;
};

}  // namespace apptest
