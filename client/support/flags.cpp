#include "client/support/flags.h"

std::atomic<int> provisioning_active{0};
std::atomic<int> cancel_requested{0};
