// The send step of the PLU commands: clears the scale (full load only) and
// sends the PLUs and then the messages in batches of 100, checking the
// driver's LastError after the clear and after every batch.
#ifndef TARVO_QUERY_PLU_TRANSFER_H_
#define TARVO_QUERY_PLU_TRANSFER_H_

#include <cstddef>

#include "query/step_context.h"

namespace tarvo {

// Records per SetAllPLU or UpdateAllMessages call.
inline constexpr size_t kPLUBatchSize = 100;

// True when every batch was accepted; scale state 0 is then set. A driver
// error (LastError not 0) ends the send at that batch with scale state 2; a
// request to end the thread ends it after the current batch; an exception
// (a failing driver call) ends it at once. All three give false, and the
// batches already accepted stay in the scale.
bool SendPLUData(const StepContext& context);

// Adds PLUList entry `index` to the driver's PLU buffer: AddPLUToBuffer,
// then the PLU_* properties.
void AddPLUToBufferFromList(const StepContext& context, size_t index);

// Adds MessageList entry `index` to the driver's message buffer:
// AddMessageToBuffer, Message_CurrentNo (index + 1) and Message_Line1..16.
void AddMessageFromList(const StepContext& context, size_t index);

}  // namespace tarvo

#endif  // TARVO_QUERY_PLU_TRANSFER_H_
