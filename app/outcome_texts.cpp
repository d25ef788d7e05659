#include "app/outcome_texts.h"

#include <QCoreApplication>

namespace corvane::outcome_texts {

namespace {

using maintenance::UpgradeStep;
using Kind = UpgradeBox::Kind;

struct StepText {
    UpgradeStep step;
    Kind kind;
    const char* title;
    const char* text;  // a device failure's box puts the device's address before it
};

constexpr StepText kUpgradeTexts[] = {
    {UpgradeStep::NameRule, Kind::Local, "错误", "文件名格式错误"},
    {UpgradeStep::FileMissing, Kind::Local, "错误", "本地文件不存在"},
    {UpgradeStep::FileUnreadable, Kind::Local, "错误", "打开本地升级源文件失败"},
    {UpgradeStep::FileTooLarge, Kind::Local, "错误", "升级文件过大"},
    {UpgradeStep::FileEmpty, Kind::Local, "错误", "升级文件为空"},
    {UpgradeStep::FileRead, Kind::Local, "错误", "读取本地升级源文件失败"},
    {UpgradeStep::Connect, Kind::Device, "升级失败", "网络连接失败"},
    {UpgradeStep::StartWrite, Kind::Device, "升级失败0", "网络连接失败"},
    {UpgradeStep::StartReply, Kind::Device, "升级失败1", "网络连接失败"},
    {UpgradeStep::StartRefused, Kind::Device, "升级失败2", "网络连接失败"},
    {UpgradeStep::PieceWrite, Kind::Device, "升级失败3", "网络连接失败"},
    {UpgradeStep::FinishWrite, Kind::Device, "升级失败4", "网络连接失败"},
    {UpgradeStep::FinishReply, Kind::Device, "升级失败5", "程序升级失败"},
    {UpgradeStep::FinishRefused, Kind::Device, "升级失败6", "程序升级失败"},
    {UpgradeStep::EndWrite, Kind::Device, "提示", "程序升级成功，重启失败，请手动重启"},
};

const StepText* stepText(UpgradeStep step) {
    for (const StepText& t : kUpgradeTexts) {
        if (t.step == step) {
            return &t;
        }
    }
    return nullptr;
}

}  // namespace

UpgradeBox upgradeBox(UpgradeStep step, const QString& address) {
    const StepText* t = stepText(step);
    if (t == nullptr) {
        return {};
    }
    return {
        t->kind, QString::fromUtf8(t->title),
        t->kind == Kind::Device ? upgradeFailureLine(step, address) : QString::fromUtf8(t->text)};
}

QString upgradeFailure(UpgradeStep step) {
    const StepText* t = stepText(step);
    return t == nullptr ? QString() : QString::fromUtf8(t->text);
}

QString upgradeFailureLine(UpgradeStep step, const QString& address) {
    return address + QLatin1Char(' ') + upgradeFailure(step);
}

QString upgradeSummary(int tried, int upgraded, const QStringList& failed, int not_tried) {
    if (tried == 0) {
        return QStringLiteral("请选择升级的设备");
    }
    // A stopped batch says so first: the devices left over were neither upgraded nor failed.
    const QString stopped =
        not_tried > 0 ? QStringLiteral("升级已取消，%1 台设备未升级；").arg(not_tried) : QString();
    if (failed.isEmpty()) {
        return stopped.isEmpty()
                   ? QStringLiteral("升级成功，等待重启")
                   : stopped + QStringLiteral("已升级 %1 台设备，等待重启").arg(upgraded);
    }
    const QString outcome = upgraded == 0
                                ? QStringLiteral("没有设备升级成功")
                                : QStringLiteral("已升级 %1 台设备，等待重启").arg(upgraded);
    return QStringLiteral("%1%2；以下 %3 台设备升级失败：\n%4")
        .arg(stopped, outcome)
        .arg(failed.size())
        .arg(failed.join(QLatin1Char('\n')));
}

QString rebootSummary(int restarted, const QStringList& silent, const QStringList& refused) {
    if (silent.isEmpty() && refused.isEmpty()) {
        return QStringLiteral("设备重启成功！");
    }
    QString text = QStringLiteral("已重启 %1 台设备").arg(restarted);
    if (!silent.isEmpty()) {
        text += QStringLiteral("，以下 %1 台设备没有应答：\n%2")
                    .arg(silent.size())
                    .arg(silent.join(QLatin1Char('\n')));
    }
    if (!refused.isEmpty()) {
        text += QStringLiteral("%1以下 %2 台设备拒绝重启：\n%3")
                    .arg(silent.isEmpty() ? QStringLiteral("，") : QStringLiteral("\n"))
                    .arg(refused.size())
                    .arg(refused.join(QLatin1Char('\n')));
    }
    return text;
}

QString rowStateText(RowState state) {
    switch (state) {
        case RowState::Waiting:
            return QCoreApplication::translate("BatchStatus", "等待");
        case RowState::Restarting:
            return QCoreApplication::translate("BatchStatus", "正在重启");
        case RowState::Restarted:
            return QCoreApplication::translate("BatchStatus", "已重启");
        case RowState::NoAnswer:
            return QCoreApplication::translate("BatchStatus", "无应答");
        case RowState::Refused:
            return QCoreApplication::translate("BatchStatus", "拒绝重启");
        case RowState::Upgraded:
            return QCoreApplication::translate("BatchStatus", "已升级");
    }
    return QString();
}

}  // namespace corvane::outcome_texts
