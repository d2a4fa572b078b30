// A batch site's course as the records of a single run, so that the window
// draws it with the charts of a single-site run.
#pragma once

#include <cstdint>
#include <vector>

#include "app/region/region_batch.h"
#include "model/model_state.h"

namespace kelmar::region {

struct CourseRecords {
    std::vector<TResultRecord> Monthly;  // in time order, Year and Month set
    std::vector<TResultRecord> Annual;   // one per year, Year set, Month 0
};

// Each variable of `course` goes to the record field of the same key
// (RESULT_FIELDS); a value the site lacks stays NaN, a variable the course
// lacks is NaN throughout.
CourseRecords RecordsOfCourse(const RegionCourse& course);

}  // namespace kelmar::region
