// The lookup's tests call the Windows HTTP component, which needs COM on the test thread, as the
// program initialises it at start-up.
#include <objbase.h>

#include <gtest/gtest.h>

namespace {

class ComApartment : public ::testing::Environment {
  public:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
    void TearDown() override { CoUninitialize(); }
};

[[maybe_unused]] ::testing::Environment* const kComApartment =
    ::testing::AddGlobalTestEnvironment(new ComApartment);

}  // namespace
