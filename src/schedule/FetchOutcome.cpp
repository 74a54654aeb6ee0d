#include "FetchOutcome.h"

namespace schedule {

bool IsFailure(TOutcomeKind kind) { return kind != TOutcomeKind::Updated && kind != TOutcomeKind::NotModified; }

}  // namespace schedule
