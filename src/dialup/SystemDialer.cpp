// Placeholder until the NetworkManager dialer lands: every dial fails.
#include "Dialer.h"

namespace {
class UnavailableDialer : public Dialer {
public:
    void DialUp(const Global::ProfileSettingsRecord &, Global::CancelFlag &) override { RasResult = 633; }
    void HangUp() override { RasResult = 0; }
};
} // namespace

std::unique_ptr<Dialer> createSystemDialer() { return std::make_unique<UnavailableDialer>(); }
