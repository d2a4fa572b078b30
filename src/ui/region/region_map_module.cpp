// The module kelmar-region-map: the writer of map pictures that
// `kelmar-cli map` loads, drawing with the window's own map code. Works
// without a display: a process without a Qt application gets one on the
// offscreen platform (unless QT_QPA_PLATFORM names another).
#include <QString>

#include <memory>
#include <string>

#include "app/region/region_map.h"
#include "model/errors.h"
#include "ui/figures/offscreen_application.h"
#include "ui/region/region_map_painter.h"
#include "ui/region/region_map_pictures.h"

namespace kelmar::ui {

namespace {

class QtRegionMapWriter : public region::RegionMapWriter {
public:
    void Write(const region::RegionMap& map, const std::string& fileName, int width, int height) override {
        const std::size_t sites = map.Ids.size();
        if (map.Lat.size() != sites || map.Lon.size() != sites || map.Value.size() != sites)
            throw KelmarError("The map cannot be saved as \"" + fileName + "\": it has " + std::to_string(sites) +
                              " site names but " + std::to_string(map.Lat.size()) + " latitudes, " +
                              std::to_string(map.Lon.size()) + " longitudes and " + std::to_string(map.Value.size()) +
                              " values.");
        const CriticalMessagesOnly quiet;
        Application.Ensure();
        WriteRegionMapPicture(RegionMapPainter(map), QString::fromStdString(fileName), width, height);
    }

private:
    OffscreenApplication Application;
};

}  // namespace

}  // namespace kelmar::ui

// What kelmar-cli looks up in the module: a new writer, owned by the caller.
extern "C" __attribute__((visibility("default"))) kelmar::region::RegionMapWriter* kelmar_new_region_map_writer() {
    return new kelmar::ui::QtRegionMapWriter();
}
