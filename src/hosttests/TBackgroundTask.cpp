#include "hosttests/TBackgroundTask.h"

#include <utility>

TBackgroundTask::TBackgroundTask(std::string name) : FName(std::move(name)) {}

TBackgroundTask::~TBackgroundTask() = default;
