// Log lines of the update engine carry the source unit name "updater",
// whichever of the engine's source files writes them.
#pragma once

#include <glog/logging.h>

#define UPDATER_LOG(severity) google::LogMessage("updater.cpp", __LINE__, google::GLOG_##severity).stream()
