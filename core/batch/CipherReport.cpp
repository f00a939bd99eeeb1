#include "CipherReport.h"

#include "DesKernelChoice.h"

namespace brasko {

SCipherReport ReportCipher()
{
    const SDesKernelChoice& choice = DesKernelChoice();
    SCipherReport report;
    report.strRequested = choice.strRequested;
    report.bRefused = choice.bRefused;
    for (const EDesKernel kernel : kAllDesKernels) {
        if (DesKernelSupported(kernel))
            report.available.emplace_back(DesKernelName(kernel));
    }
    report.bSelfTestFailed = choice.bSelfTestFailed;
    if (choice.bSelfTestFailed)
        report.strFailed = DesKernelName(choice.failedKernel);
    return report;
}

} // namespace brasko
