// Deciding what a source is from its first bytes.
#include "gis/SourceSample.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#include "platform/Locale.h"

bool IsBlankLine(std::string_view line) {
    for (const char c : line)
        if (static_cast<unsigned char>(c) > ' ')
            return false;
    return true;
}

bool ReadSourceSample(std::istream &in, std::string &sample) {
    if (!in)
        return false;
    sample.resize(source_sample_bytes);
    in.read(sample.data(), static_cast<std::streamsize>(sample.size()));
    if (in.bad())
        return false;
    sample.resize(static_cast<size_t>(in.gcount()));
    return true;
}

std::string_view FirstNonBlankLine(std::string_view text) {
    std::string_view first;
    ForEachLine(text, [&](std::string_view line) {
        if (IsBlankLine(line))
            return true;
        first = line;
        return false;
    });
    return first;
}

namespace {

// True when no field is a number (with either decimal separator): a header,
// not a line of stations.
bool NamesOnly(const std::vector<std::string> &fields) {
    return std::none_of(fields.begin(), fields.end(), [](const std::string &f) {
        double number = 0.0;
        return TryStrToFloat(f, number, '.') || TryStrToFloat(f, number, ',');
    });
}

} // namespace

bool NamesColumns(const TableOptions &options) {
    return options.columns.has_value();
}

bool SourceDecision::UnrecognisedTable() const {
    if (kind != SourceKind::StationText || station_header ||
        separator == TextSeparator::Blank || header.size() < 3)
        return false;
    const std::string &first = header.front();
    char *end = nullptr;
    std::strtod(first.c_str(), &end);
    return first.empty() || end != first.c_str() + first.size();
}

SourceDecision DecideFromSample(std::string_view sample,
                                const TableOptions &options, bool &identify) {
    SourceDecision decision;
    identify = false;
    std::string_view text = sample;
    if (text.substr(0, utf8_bom.size()) == utf8_bom)
        text.remove_prefix(utf8_bom.size());
    const std::string_view first = FirstNonBlankLine(text);
    const bool binary = sample.find('\0') != std::string_view::npos;
    const size_t start = first.find_first_not_of(" \t");
    const bool markup = start != std::string_view::npos &&
                        (first[start] == '{' || first[start] == '<');
    if (binary || markup) {
        identify = true;
        return decision;
    }
    if (first.empty())
        return decision;

    const TextSeparator separator = DetectSeparator(first);
    decision.header = SplitTextLine(first, separator);
    decision.separator = separator;
    const bool blank = separator == TextSeparator::Blank;
    if (!NamesColumns(options)) {
        if (blank && IsStationHeader(decision.header)) {
            decision.station_header = true;
            for (int r = 0; r < station_role_count; ++r) {
                decision.header_columns.column[r] = r;
                decision.header_columns.origin[r] = ColumnOrigin::Recognised;
            }
            return decision;
        }
        // A delimited header that names some columns but not all is a
        // table still, refused with what it lacks, unless it can be read by
        // position as the station text format.
        const bool names_some = !blank && NamesOnly(decision.header) &&
                                RecognisesAnyField(decision.header) &&
                                !RecognisedInStationOrder(decision.header);
        if (!RecognisesTableHeader(decision.header) && !names_some)
            return decision;
    }
    decision.kind = SourceKind::Table;
    decision.format = blank ? TableFormat::BlankText : TableFormat::Delimited;
    return decision;
}
