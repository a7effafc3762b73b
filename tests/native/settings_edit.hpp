// Tests change the settings in force as a load does: a whole new record, published.
#pragma once

#include "settings/settings.hpp"

namespace pathlight::testing {

// Publishes the record in force with `edit` applied to a copy of it.
template <class Edit> void EditSettings(Edit&& edit) {
  Settings settings = *CurrentSettings();
  edit(settings);
  PublishSettings(settings);
}

}  // namespace pathlight::testing
