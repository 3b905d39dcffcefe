#pragma once

namespace tandril {

// Installs the message-box hook that shows QMessageBoxes: on the interface thread,
// whatever thread asks, the asking thread waiting until the box is closed.
void InstallGuiMessageBoxes();

// Releases every worker waiting for a box that has not been shown yet; such a box is
// then not shown at all. Called on Cancel, before the worker is joined.
void ReleasePendingMessageBoxes();

}  // namespace tandril
