// The result path proposed for a station file: its extension replaced by
// "_res.dat", as the input chooser and the batch tool propose it.
#pragma once

#include <string>

// /survey/stations.dat gives /survey/stations_res.dat; a path without an
// extension gets "_res.dat" appended. The extension starts at the last '.'
// after the last '/', so a dot in a folder name is not one.
std::string ProposeResultPath(const std::string &data_path);
