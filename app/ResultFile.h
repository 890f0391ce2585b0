// The result file: a fixed-column text table, one header line and one line per
// estimated station. Lines end in CRLF on every platform; numbers always carry
// a point, whatever the locale.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "app/StationFile.h"
#include "platform/FileReplacement.h"

// The header line, without its line end; each label ends above its column.
constexpr const char *result_header =
    "        x[m]         y[m]      point   h[m.a.s]  cba[mGal]   r1[mGal]   "
    "r2[mGal]    dist[m]          N";

// One station's line without its line end: x and y fixed with 3 decimals in 12
// characters, the name right-aligned in 10 (each blank or control character
// in it written as '_', so that the line keeps its fields and stays one
// line), h, value, r1, r2 and the half-size (metres) fixed with 3 decimals in
// 10, the count in 10; one space between. A value wider than its field is
// written whole and pushes the rest right.
std::string FormatResultLine(const Station &station, double r1, double r2,
                             double half_size, int32_t count);

// Writes the result file through the C library's buffering, into a temporary
// file beside it that replaces the earlier result only at Close. A failed write
// throws FileError at once and Close reports one that only the final flush
// meets, so a lost result never passes for success.
class TResultFile {
  public:
    TResultFile() = default;
    TResultFile(const TResultFile &) = delete;
    TResultFile &operator=(const TResultFile &) = delete;
    // Discards a file that was not closed: the earlier result stays.
    ~TResultFile() = default;

    // Starts the file that will replace path (the platform's own path bytes).
    // False, with the system's error number in `error`, when it cannot (the
    // run shows its message); a file this object held open is discarded
    // first.
    bool Open(const std::string &path, int &error);
    // Writes into `staged`, already begun for `path` with the run's other
    // outputs (platform/OutputSet.h): Close then only finishes it, and the
    // set puts it in place.
    void Open(TFileReplacement &staged, const std::string &path);
    // The header line; once, directly after Open.
    void WriteHeader();
    // One station's line (see FormatResultLine). Both throw FileError when the
    // write fails.
    void WriteStation(const Station &station, double r1, double r2,
                      double half_size, int32_t count);
    // Completes the file and puts it in the place of the earlier one; nothing
    // when none is open. Throws FileError naming the path and the system's
    // reason when a write, the flush, the close or the rename failed; the
    // earlier result then stays.
    void Close();
    // Drops the file: the earlier result stays as it was. Never throws.
    void Discard() { replacement->Abandon(); }
    bool IsOpen() const { return replacement->File() != nullptr; }
    // Station lines written since Open.
    int64_t StationLines() const { return station_lines; }

  private:
    void WriteLine(const std::string &line);

    TFileReplacement own;                 // when not staged
    TFileReplacement *replacement = &own; // the file written
    bool publish = true;                  // Close renames it over the target
    std::string path;
    int write_error =
        0; // errno of the first failed write; 0 while all went well
    int64_t station_lines = 0;
};
