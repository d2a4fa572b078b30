#include "app/table_output.h"

#include "io/file_bytes.h"
#include "io/table_file.h"

namespace kelmar {

void WriteResultsTable(const std::string& fileName, const TModel& model) {
    WriteFileAtomically(fileName, FormatResultsTable(model));
}

}  // namespace kelmar
