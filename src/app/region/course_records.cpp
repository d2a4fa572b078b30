#include "app/region/course_records.h"

#include <limits>
#include <string>

#include "model/record_fields.h"

namespace kelmar::region {

namespace {

constexpr double NONE = std::numeric_limits<double>::quiet_NaN();

TResultRecord EmptyRecord(std::int32_t year, std::int32_t month) {
    TResultRecord record;
    record.Year = year;
    record.Month = month;
    for (const ResultField& field : RESULT_FIELDS) record.*field.Value = NONE;
    return record;
}

// The record field of each variable of the course; null for one no record holds.
std::vector<double TResultRecord::*> FieldsOf(const std::vector<RegionVariable>& variables) {
    std::vector<double TResultRecord::*> fields;
    for (const RegionVariable& variable : variables) {
        double TResultRecord::*field = nullptr;
        for (const ResultField& known : RESULT_FIELDS)
            if (variable.Name == known.Key) field = known.Value;
        fields.push_back(field);
    }
    return fields;
}

}  // namespace

CourseRecords RecordsOfCourse(const RegionCourse& course) {
    const auto fields = FieldsOf(course.Variables);
    CourseRecords records;
    records.Monthly.reserve(course.Months.size());
    for (std::size_t t = 0; t < course.Months.size(); ++t) {
        TResultRecord& record = records.Monthly.emplace_back(EmptyRecord(course.Years[t], course.Months[t]));
        for (std::size_t v = 0; v < fields.size() && v < course.Monthly.size(); ++v)
            if (fields[v] && t < course.Monthly[v].size()) record.*fields[v] = course.Monthly[v][t];
    }
    records.Annual.reserve(course.AnnualYears.size());
    for (std::size_t y = 0; y < course.AnnualYears.size(); ++y) {
        TResultRecord& record = records.Annual.emplace_back(EmptyRecord(course.AnnualYears[y], 0));
        for (std::size_t v = 0; v < fields.size() && v < course.Annual.size(); ++v)
            if (fields[v] && y < course.Annual[v].size()) record.*fields[v] = course.Annual[v][y];
    }
    return records;
}

}  // namespace kelmar::region
