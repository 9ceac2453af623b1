// The one type a job is listed with, by the web index and by the window's job list alike
// (web::ListedJob), for the modules that may include cli but not web.
#pragma once

#include "web/job_index.h"

namespace pellory::app::cli {

using ListedJob = web::ListedJob;
using web::ListedFromFinished;

}  // namespace pellory::app::cli
