#pragma once

#include <QString>

namespace velda {

class Session;

// Says where the report's workbook was saved and offers to open its folder on the desktop.
void OfferReportFolder(Session& session, const QString& workbook);

// Asks where the printed pages go as a PDF file, suggesting the product code's name in the folder last
// used; remembers the chosen folder for the account. The empty text when the user cancels.
QString ChooseReportPdf(Session& session);

} // namespace velda
