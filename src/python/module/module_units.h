// The units of the module _kelmar, each adding its part to the module.
#pragma once

#include <pybind11/pybind11.h>

namespace kelmar::python {

namespace py = pybind11;

// The records (site, climatology, weather record, scenario), their fields,
// readers and writers.
void AddRecords(py::module_& m);
// Single runs, ensembles and the estimate of a climatology.
void AddRuns(py::module_& m);
// The generator check and the columns of its table.
void AddCheck(py::module_& m);
// Batches of a site list, with progress and Ctrl-C.
void AddBatch(py::module_& m);
// Batches into a folder and the merge of shards, as kelmar-cli runs them.
void AddBatchFolder(py::module_& m);
// Records of sites from gridded monthly climate (kelmar-cli extract).
void AddGrid(py::module_& m);

}  // namespace kelmar::python
