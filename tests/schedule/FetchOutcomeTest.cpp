#include "FetchOutcome.h"

#include <gtest/gtest.h>

namespace {

TEST(FetchOutcome, OnlyAFeedOrANotModifiedIsASuccess) {
    using schedule::TOutcomeKind;
    for (TOutcomeKind kind : {TOutcomeKind::Updated, TOutcomeKind::NotModified})
        EXPECT_FALSE(schedule::IsFailure(kind));
    for (TOutcomeKind kind : {TOutcomeKind::Moved, TOutcomeKind::Gone, TOutcomeKind::NotAFeed, TOutcomeKind::TimedOut,
                              TOutcomeKind::RateLimited})
        EXPECT_TRUE(schedule::IsFailure(kind));
}

}  // namespace
