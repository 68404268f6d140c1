#include "common/ErrorText.h"

#include <QDir>

using namespace Qt::StringLiterals;

QString describeHttp(const net::Result& result) {
    switch (result.error) {
    case net::Error::None:
        return result.status == 200 ? QString() : u"服务器返回状态 %1"_s.arg(result.status);
    case net::Error::Timeout:
        return u"操作超时"_s;
    case net::Error::HostNotFound:
        return u"找不到服务器"_s;
    case net::Error::ConnectionRefused:
        return u"服务器拒绝连接"_s;
    case net::Error::ConnectionClosed:
        return u"服务器在回复完成前关闭了连接"_s;
    case net::Error::Tls:
        return u"无法建立安全连接"_s;
    case net::Error::OffOriginRedirect:
        return u"服务器重定向到其他地址，已拒绝"_s;
    case net::Error::TooManyRedirects:
        return u"重定向次数过多"_s;
    case net::Error::TooLarge:
        return u"服务器回复过大，已中止"_s;
    case net::Error::Stopped:
        return u"传输已中止"_s;
    case net::Error::Network:
        break;
    }
    return u"网络错误(代码 %1)"_s.arg(result.qtError);
}

QString describeFileError(QFileDevice::FileError error, const QString& path) {
    QString what;
    switch (error) {
    case QFileDevice::NoError:
        return QString();
    case QFileDevice::ReadError:
        what = u"读取文件失败"_s;
        break;
    case QFileDevice::WriteError:
        what = u"写入文件失败(磁盘已满或无法写入)"_s;
        break;
    case QFileDevice::OpenError:
        what = u"无法打开文件(文件或文件夹不存在，或文件被其他程序占用)"_s;
        break;
    case QFileDevice::PermissionsError:
        what = u"没有访问该文件的权限"_s;
        break;
    case QFileDevice::ResourceError:
        what = u"系统资源不足(磁盘已满?)"_s;
        break;
    case QFileDevice::RenameError:
        what = u"无法替换文件(文件可能被其他程序占用)"_s;
        break;
    case QFileDevice::RemoveError:
        what = u"无法删除文件"_s;
        break;
    case QFileDevice::AbortError:
        what = u"文件操作已中止"_s;
        break;
    case QFileDevice::TimeOutError:
        what = u"文件操作超时"_s;
        break;
    case QFileDevice::FatalError:
    case QFileDevice::UnspecifiedError:
    case QFileDevice::PositionError:
    case QFileDevice::ResizeError:
    case QFileDevice::CopyError:
        what = u"文件操作失败"_s;
        break;
    }
    return what + u": "_s + QDir::toNativeSeparators(path);
}

QString describeDownload(DownloadFault fault, const QString& file, qint64 received, qint64 expected) {
    const QString counts = u"收到 %1 字节, 应为 %2 字节"_s.arg(received).arg(expected);
    QString what;
    switch (fault) {
    case DownloadFault::TooSlow:
        what = u"下载速度过慢，已中止"_s;
        break;
    case DownloadFault::TooLarge:
        what = u"下载文件过大，已中止"_s;
        break;
    case DownloadFault::LongerThanAnnounced:
        what = u"服务器发送的数据多于声明的文件大小，已中止"_s;
        break;
    case DownloadFault::ShorterThanAnnounced:
        what = u"文件下载不完整: "_s + counts;
        break;
    case DownloadFault::SizeMismatch:
        what = u"文件大小与更新信息不符: "_s + counts;
        break;
    case DownloadFault::LargerThanExpected:
        what = u"文件大于更新信息中的大小(应为 %1 字节)，已中止"_s.arg(expected);
        break;
    case DownloadFault::HashMismatch:
        what = u"文件校验失败(SHA-256 与更新信息不符)"_s;
        break;
    case DownloadFault::NotAProgram:
        what = u"下载的主程序不是本系统可运行的程序"_s;
        break;
    case DownloadFault::ThroughLink:
        what = u"文件路径经过链接，已拒绝写入"_s;
        break;
    }
    return what + u": "_s + QDir::toNativeSeparators(file);
}

QString describeReply(ReplyProblem problem) {
    switch (problem) {
    case ReplyProblem::Empty:
        return u"服务器回复为空"_s;
    case ReplyProblem::NotJson:
        return u"服务器回复不是有效的数据(非JSON)"_s;
    case ReplyProblem::SignInPage:
        return u"登录已失效"_s;
    }
    return QString();
}

QString describeOpenFailure(const QString& path) {
    return u"无法打开文件(没有与该类型关联的程序，或程序无法启动): "_s + QDir::toNativeSeparators(path);
}

QString describeSheetLimit(SheetLimit limit) {
    switch (limit) {
    case SheetLimit::CellText:
        return u"单元格文字超过上限(32,767个字符)"_s;
    case SheetLimit::Rows:
        return u"行数超过工作表上限(1,048,576行)"_s;
    }
    return QString();
}
