// Command execution: runs the method elements of one request document in document order,
// records one outcome per method, builds the response tree the reply is written from, and
// returns the highest state reached. Session methods (open, retry, disconnect, commit) are
// handled here; read and write go through the object table to the device parameter bridge.
#pragma once

#include "client/formats/qnxml.h"

// The highest state of the document (0 to 3), or -1 when it has no method element. The
// response tree (zero-filled by the caller, released with free_xml_struct) receives one
// `detail` element per reported method, attributes in the order id, name, object,
// value | valueref, result. Execution stops at a method that ends in state 3; every element
// after it is reported with result "Abort" (and counts as state 3). After a disconnect or
// retry the remaining methods are neither run nor reported.
int execute_mmc_methods(const xml_struct* request, xml_struct* response);
