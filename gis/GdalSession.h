// GDAL's set-up for the gis library: drivers registered once, and GDAL's
// messages kept from standard error so that a step reports its own. Internal
// to gis/.
#pragma once

#include <string>

// While it lives, GDAL's error messages on this thread go nowhere but
// LastGdalError(); the drivers are registered on first use.
class TGdalQuiet {
  public:
    TGdalQuiet();
    ~TGdalQuiet();
    TGdalQuiet(const TGdalQuiet &) = delete;
    TGdalQuiet &operator=(const TGdalQuiet &) = delete;
};

// GDAL's last error message on this thread, or `otherwise` when it has none.
std::string LastGdalError(const std::string &otherwise);
