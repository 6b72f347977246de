#include "structure/ui/ReportOutput.h"

#include "core/Session.h"
#include "structure/ReportModel.h"

#include <QFileInfo>

namespace velda {

namespace {
const QString kLastPdfFolder = QStringLiteral("LastReportPdfFolder");
} // namespace

void OfferReportFolder(Session& session, const QString& workbook) {
    const QString path = QFileInfo(workbook).absoluteFilePath();
    if (session.feedback().question(ReportText::Written(path), kTitleFeedback))
        session.feedback().openDocument(QFileInfo(path).absolutePath());
}

QString ChooseReportPdf(Session& session) {
    const QString suggested = ReportPdfPath(session.config().ReadAccountValue(session.ctx.UserId, kLastPdfFolder),
                                            session.paths().dataFolder, session.ctx.ProductCode);
    const QString pdf = session.feedback().saveFileName(ReportText::PdfCaption, suggested, ReportText::PdfFilter);
    if (!pdf.isEmpty())
        session.config().StoreAccountValue(session.ctx.UserId, kLastPdfFolder, QFileInfo(pdf).absolutePath());
    return pdf;
}

} // namespace velda
