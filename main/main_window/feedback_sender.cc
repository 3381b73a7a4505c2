#include "main/main_window/feedback_sender.h"

#include "main/dialog/setting_dialog/setting_dialog.h"
#include "main/update_client.h"

void InstallFeedbackSender() {
  SettingDialog::Instance()->SetFeedbackSender(
      [](const QString& content, const QString& contact, QObject* receiver) {
        // Read each time: the installation's presets may name the service later.
        update_client::SendFeedback(content.toStdString(), contact.toStdString(), receiver,
                                    update_client::LoadServiceConfig());
      });
}
