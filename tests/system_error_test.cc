#include "util/system_error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "error/exception.h"

namespace {

// Runs `raise` and returns the failure it threw, sliced to its text and class.
template <typename Expected>
std::string raised_text(int code) {
    try {
        util::raise_system_error("Opening the file", code);
    } catch (const Expected& e) {
        return e.text();
    } catch (const error::Exception& e) {
        return "wrong class: " + e.text();
    }
    return "(nothing raised)";
}

}  // namespace

TEST(SystemError, CodesPickTheirFailureClass) {
    EXPECT_EQ(raised_text<error::EFileNotFoundError>(ENOENT),
              std::string("Opening the file: ") + std::strerror(ENOENT));
    EXPECT_EQ(raised_text<error::EFileNotFoundError>(ENOTDIR),
              std::string("Opening the file: ") + std::strerror(ENOTDIR));
    EXPECT_EQ(raised_text<error::EFileExistsError>(EEXIST),
              std::string("Opening the file: ") + std::strerror(EEXIST));
    // Other codes are plain system errors, not one of the file classes.
    try {
        util::raise_system_error("Writing", EIO);
        FAIL();
    } catch (const error::EFileNotFoundError&) {
        FAIL() << "EIO is not a missing file";
    } catch (const error::ESystemError& e) {
        EXPECT_EQ(e.text(), std::string("Writing: ") + std::strerror(EIO));
    }
}

TEST(SystemError, TextsWithoutCodes) {
    EXPECT_EQ(util::system_error_text(EACCES), std::strerror(EACCES));
    EXPECT_FALSE(util::system_error_text(999999).empty());
    try {
        util::raise_system_error("Environment variable smem::mapfile not set");
        FAIL();
    } catch (const error::ESystemError& e) {
        EXPECT_EQ(e.text(), "Environment variable smem::mapfile not set");
    }
}
