// The session's state between documents: whether a session is open (set by the `open`
// method, cleared by disconnect_mmcp_session) and the session counter (starts at 1, one more
// for each `open`, replaced by the document's mmcID while a session is open; never reset).
// One per process, event thread only.
#pragma once

// The `open` method: sets the session-open flag and counts the session.
void mmcp_open_session();
bool mmcp_session_is_open();
int mmcp_session_counter();
// The driver adopts the document's mmcID while a session is open (and tests start at 1).
void mmcp_set_session_counter(int counter);

// Ends the session: clears the session-open flag, forgets the NAI user name, releases the
// HTTP handle. Queued writes stay queued (only the disconnect and retry methods discard them).
void disconnect_mmcp_session();
