#include "platform/ServerAddress.h"

namespace tevrak::platform {

QString ftpHost()
{
    const QString host = qEnvironmentVariable("TEVRAK_FTP_HOST");
    return host.isEmpty() ? builtInFtpHost : host;
}

int ftpPort()
{
    bool ok = false;
    const int port = qEnvironmentVariableIntValue("TEVRAK_FTP_PORT", &ok);
    return ok && port > 0 && port < 65536 ? port : builtInFtpPort;
}

}  // namespace tevrak::platform
