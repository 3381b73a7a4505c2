// Joins the settings dialog's feedback form to the update service's client.
// GUI thread, once, after the application object exists.
#pragma once

void InstallFeedbackSender();
