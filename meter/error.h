// Metering failures.
#pragma once

#include "error/exception.h"

namespace meter {

// A metric request named an instance that is not registered.
class ENoSuchInstance : public error::Exception {
public:
    using Exception::Exception;
};

}  // namespace meter
