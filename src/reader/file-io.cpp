// File and folder input and output: not built yet; every entry raises internal/not-done so
// that the file! actions already reach their one place.
#include "reader/file-io.h"

#include "evaluator/error.h"

namespace zuv::file_io {

Cell* read(Cell*, Cell*, Cell*, bool, bool, bool) { error::raise(error::id::internal_not_done); }
Cell* write(Cell*, Cell*, bool, bool, bool, bool, Cell*, Cell*) { error::raise(error::id::internal_not_done); }
bool delete_(Cell*) { error::raise(error::id::internal_not_done); }
int32_t rename(Cell*, Cell*) { error::raise(error::id::internal_not_done); }
Cell* query(Cell*) { error::raise(error::id::internal_not_done); }

}  // namespace zuv::file_io
