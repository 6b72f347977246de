// velda-demo: fills a new one-machine office with a small sample (scripts/run.sh --demo), so that every
// window has something to show. It works on the database the configuration names, as the program does.
#include "accounts/AdminRecord.h"
#include "app/DemoOffice.h"
#include "core/Clock.h"
#include "core/Configuration.h"
#include "core/Feedback.h"
#include "core/ProgramPaths.h"
#include "core/Session.h"

#include <QGuiApplication>
#include <QTextStream>

int main(int argc, char* argv[]) {
    // The preview pictures are drawn without a window: no display is needed.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    if (app.arguments().size() > 1) {
        err << "用法：velda-demo\n"
               "  向配置所指的本机办公环境填入样例数据（三个用户、两个组、零件信息和图纸信息、带预览图的样例图纸、\n"
               "  一个产品结构、借用件记录和产品档案）；办公环境中已有数据时不作任何改动。\n";
        return 2;
    }
    velda::StderrFeedback feedback;
    velda::SystemClock clock;
    const velda::Configuration config;
    velda::Session session(feedback, clock, config, velda::ProgramPaths::detect(config),
                           velda::VolumeSerialHex(velda::ReadMachineSerial()));
    session.onEndProgram = [](int) {};
    const QString address = config.ReadServerAddress();
    if (address.isEmpty() || address == velda::Configuration::kLocalWord) {
        err << "样例数据需要数据库服务器和FTP服务器，请用 bash scripts/run.sh --demo "
               "建立本机办公环境并填入样例数据。\n";
        return 1;
    }
    velda::Outcome outcome;
    try {
        session.connect(address);
        session.ctx.ServerAddress = address;
        outcome = velda::FillDemoOffice(session, session.paths().dataFolder, out);
    } catch (const velda::Error& e) {
        outcome = velda::Outcome::failure(e.description());
    }
    out.flush();
    if (!outcome.done()) {
        err << outcome.text << "\n";
        return outcome.refused() ? 1 : 3;
    }
    out << outcome.text << "\n"
        << "可用以下帐号登录（密码与帐号相同）：admin（组admin）、zhang（设计组）、li（设计组或工艺组）、wang（工艺组）"
           "\n";
    return 0;
}
