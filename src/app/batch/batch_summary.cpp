#include "app/batch/batch_summary.h"

#include <span>

#include "app/batch/batch_tables.h"
#include "model/errors.h"
#include "model/record_fields.h"

namespace kelmar::batch {

namespace {

constexpr int FIELDS = static_cast<int>(RESULT_FIELDS.size());

}  // namespace

std::string SummaryFieldNames() {
    std::string names;
    for (const SummaryField& field : SUMMARY_FIELDS) {
        if (!names.empty()) names.push_back(',');
        names.append(field.Name);
    }
    return names;
}

void ReplicateSummaries::Clear() {
    Replicates = Years = 0;
    YearOf.clear();
    ByMonth.clear();
    MonthMoments.clear();
    ByYear.clear();
}

void ReplicateSummaries::Add(const TModel& model) {
    const int years = model.AvailableYears;
    if (Replicates == 0) {
        Years = years;
        YearOf.assign(static_cast<std::size_t>(years) + 1, 0);
        for (int i = 1; i <= years; ++i) YearOf[static_cast<std::size_t>(i)] = model.Results.At(i, 1).Year;
        ByMonth.assign(static_cast<std::size_t>(FIELDS) * 12, {});
        MonthMoments.assign(ByMonth.size(), Moments{});
        ByYear.assign(static_cast<std::size_t>(FIELDS) * static_cast<std::size_t>(years), {});
        for (auto& group : ByMonth) group.reserve(static_cast<std::size_t>(years) * static_cast<std::size_t>(Expected));
        for (auto& group : ByYear) group.reserve(static_cast<std::size_t>(Expected));
    } else if (years != Years) {
        throw KelmarError("A replicate ran " + std::to_string(years) + " years, not the " + std::to_string(Years) +
                          " of the replicates before it.");
    }
    for (int f = 0; f < FIELDS; ++f) {
        const auto value = RESULT_FIELDS[f].Value;
        for (int k = 1; k <= 12; ++k) {
            std::vector<double>& group = ByMonth[static_cast<std::size_t>(f) * 12 + k - 1];
            const std::size_t from = group.size();
            for (int i = 1; i <= years; ++i) group.push_back(model.Results.At(i, k).*value);
            MonthMoments[static_cast<std::size_t>(f) * 12 + k - 1].Merge(Moments::Of(group.data() + from, static_cast<std::size_t>(years)));
        }
        for (int i = 1; i <= years; ++i)
            ByYear[static_cast<std::size_t>(f) * years + i - 1].push_back(model.Results.At(i, 0).*value);
    }
    ++Replicates;
}

void ReplicateSummaries::Append(std::string_view start, std::string& monthly, std::string& annual, int digits) {
    if (Replicates == 0 || Years == 0) return;
    std::vector<SampleSummary> months(ByMonth.size());
    for (std::size_t g = 0; g < ByMonth.size(); ++g) months[g] = Summarize(std::span<double>(ByMonth[g]), MonthMoments[g]);
    for (int k = 1; k <= 12; ++k)
        for (int f = 0; f < FIELDS; ++f) AppendSummaryRow(monthly, start, k, RESULT_FIELDS[f], months[static_cast<std::size_t>(f) * 12 + k - 1], digits);
    for (int i = 1; i <= Years; ++i)
        for (int f = 0; f < FIELDS; ++f)
            AppendSummaryRow(annual, start, YearOf[static_cast<std::size_t>(i)], RESULT_FIELDS[f],
                      Summarize(std::span<double>(ByYear[static_cast<std::size_t>(f) * Years + i - 1])), digits);
}

}  // namespace kelmar::batch
