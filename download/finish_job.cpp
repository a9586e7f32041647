#include "download/finish_job.h"

#include <string>

namespace velnoria {

void finishJob(JobContext& job) {
    JobServices& services = job.services;
    if (job.finishedCount > 0) {
        services.messageBox.show(
            "Finish",
            "Task finished !\r\n " + std::to_string(job.finishedCount) + " file(s) downloaded.",
            MessageIcon::None);
        services.shell.openFolder(job.program.settings.savePath);
    } else {
        services.messageBox.show("Finish", "Task finished !\r\nNo file downloaded.",
                                 MessageIcon::None);
    }
    services.status.close();
}

}  // namespace velnoria
