// Feeds arbitrary bytes to the batch's site list reader, then, as the batch
// does for each site, writes the id into a CSV field and runs the first site
// given by parameter columns on the example climatology. A refused list or
// run (KelmarError) is a fine outcome; a crash, a sanitizer report, a hang,
// an id the list check let through that the outputs could not carry
// exactly (not UTF-8, a control character, or not read back as written), a
// stored value or an output that is not a finite number is not.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/batch/site_list.h"
#include "finite_records.h"
#include "io/csv_text.h"
#include "whole_path.h"
#include "model/errors.h"
#include "model/record_fields.h"

namespace {

[[noreturn]] void Fail(const char* what, const std::string& id) {
    std::fprintf(stderr, "site id \"%s\": %s\n", id.c_str(), what);
    std::abort();
}

bool IsUtf8WithoutControls(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x20 || lead == 0x7F) return false;
        const std::size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                                                 : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
        if (length == 0 || i + length > text.size()) return false;
        for (std::size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        i += length;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kelmar;
    static TModel* const model = new TModel();  // large; made once and reused
    batch::SiteList list;
    try {
        list = batch::ParseSiteList(std::string(reinterpret_cast<const char*>(data), size), "fuzz.csv", "");
    } catch (const KelmarError&) {
        return 0;
    }
    const batch::SiteEntry* columns = nullptr;
    std::vector<std::string> fields;
    for (const batch::SiteEntry& site : list.Sites) {
        if (site.Id.empty() || !IsUtf8WithoutControls(site.Id)) Fail("let through", site.Id);
        // The id as the tables write it, read back.
        std::string row;
        AppendCsvField(row, site.Id);
        row += ",1\n";
        CsvReader reader(row, "row", 1);  // a row inside a table: no byte-order mark looked for
        if (!reader.Next(fields) || fields.size() != 2 || fields[0] != site.Id) Fail("not read back as written", site.Id);
        for (const SiteField& field : SITE_FIELDS)
            if (field.Kind == FieldKind::Real) fuzz::RequireFinite(site.Params.*field.Real, field.Key);
        if (!columns && site.SiteFile.empty()) columns = &site;
    }
    if (!columns) return 0;
    model->Site = columns->Params;
    fuzz::LoadExampleClimatology(*model);
    model->Settings = TRunSettings{};  // simulated weather
    fuzz::RunAndRequireFiniteOutputs(*model);
    return 0;
}
