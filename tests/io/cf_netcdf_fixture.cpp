// Writes the dataset of cf_netcdf_fixture.h into the folder given as the
// only argument: sites.nc and sites_annual.nc, and for each site <id>.csv, its full results
// table as kelmar-cli --table writes it. The independent reader's test
// compares the two.
#include <exception>
#include <iostream>
#include <memory>

#include "io/cf_netcdf_fixture.h"
#include "io/file_bytes.h"
#include "io/table_file.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: cf_netcdf_fixture FOLDER\n";
        return 2;
    }
    try {
        const std::string folder = argv[1];
        kelmar::testing::WriteFixture(folder + "/sites.nc");  // and sites_annual.nc
        for (const kelmar::testing::FixtureSite& site : kelmar::testing::FixtureSites()) {
            auto model = std::make_unique<kelmar::TModel>();
            model->Results = *site.Results;
            model->AvailableYears = site.YearCount;
            kelmar::WriteFileAtomically(folder + "/" + site.Site.Id + ".csv", kelmar::FormatResultsTable(*model));
        }
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
    return 0;
}
