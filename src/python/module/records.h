// The records the module holds for Python: a site, a climatology and an
// observed weather record, each with the name of the file it was read from
// (for messages; empty when made in Python).
#pragma once

#include <algorithm>
#include <memory>
#include <string>

#include "model/model_state.h"
#include "model/weather_record.h"

namespace kelmar::python {

struct Site {
    TSiteParams Params;
    std::string Name;
};

struct Climatology {
    TClimatology Values;
    std::string Name;
};

struct Weather {
    std::unique_ptr<WeatherRecord> Record = std::make_unique<WeatherRecord>();
    std::string Name;

    int Years() const { return std::max(0, std::min(Record->YearEnd - Record->YearBeg + 1, MAX_YEARS)); }
};

}  // namespace kelmar::python
