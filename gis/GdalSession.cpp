// GDAL's driver registration and quiet error handling.
#include "gis/GdalSession.h"

#include <mutex>

#include <cpl_error.h>
#include <gdal.h>

TGdalQuiet::TGdalQuiet() {
    static std::once_flag registered;
    std::call_once(registered, [] { GDALAllRegister(); });
    CPLPushErrorHandler(CPLQuietErrorHandler);
    CPLErrorReset();
}

TGdalQuiet::~TGdalQuiet() { CPLPopErrorHandler(); }

std::string LastGdalError(const std::string &otherwise) {
    const char *message = CPLGetLastErrorMsg();
    if (message == nullptr || message[0] == '\0')
        return otherwise;
    return message;
}
