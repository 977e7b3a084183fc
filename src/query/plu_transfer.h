// The send step of the PLU commands: clears the scale (full load only) and
// sends the PLUs and then the messages in batches of 100, checking the
// driver's LastError after the clear and after every batch. The worker runs
// CheckPLUData after the load, so data the scale cannot take is refused
// before the send clears anything.
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

// Asks the driver, before anything is sent, whether each PLUList and
// MessageList entry fits one transfer to the scale on its own: each record
// is put alone into the driver's buffer as the send puts it, and the
// driver's PLU_RecordFits or Message_RecordFits is read; the buffers are
// left empty. Nothing goes to the scale. Every record the driver
// refuses is logged ("<ip> PLU 17 is too large to send to the scale.",
// level 5); then the result is false with scale state 4, data that no retry
// could deliver. True when every record fits, and for a driver without
// those members, which cannot tell (only a false answer refuses a record).
// Raises what the driver raises.
bool CheckPLUData(const StepContext& context);

// Adds PLUList entry `index` to the driver's PLU buffer: AddPLUToBuffer,
// then the PLU_* properties.
void AddPLUToBufferFromList(const StepContext& context, size_t index);

// Adds MessageList entry `index` to the driver's message buffer:
// AddMessageToBuffer, Message_CurrentNo (index + 1) and Message_Line1..16.
void AddMessageFromList(const StepContext& context, size_t index);

}  // namespace tarvo

#endif  // TARVO_QUERY_PLU_TRANSFER_H_
