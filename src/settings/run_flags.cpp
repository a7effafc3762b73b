#include "settings/run_flags.hpp"

namespace pathlight {

Flag MinimapRouteShown{1};
Flag WorldRouteShown{1};
Flag ReloadRequested{0};
Flag RerouteRequested{0};
Flag RebuildRequested{0};

}  // namespace pathlight
