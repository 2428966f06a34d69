// Start-up of the share service's screens: installs what the core asks of them (toasts, alerts,
// where toasts go, the theme blocks; see RAZududeScreenHooks). An app calls it once on the main
// thread before it uses the share service; the facade and the controller service call it too,
// so an app that starts through them need not. Calling it again does nothing.
#pragma once

void installSocialUI();
