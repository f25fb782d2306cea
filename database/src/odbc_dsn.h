#pragma once

#include <string>

#include "common/result.h"

namespace tarn::db::detail::odbc {

// A "FILEDSN=path" connection string with the attributes of the file's [ODBC]
// section in place of FILEDSN (attributes the string gives itself win); any
// other string as it is.
Result<std::string> expandFileDsn(const std::string& utf8);

}  // namespace tarn::db::detail::odbc
