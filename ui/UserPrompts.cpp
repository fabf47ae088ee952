#include "ui/UserPrompts.h"

#include <QApplication>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>

QString FolderOfPath(const QString &path)
{
    return path.first(path.lastIndexOf(u'/') + 1);
}

QtPrompts::QtPrompts(QWidget *owner)
    : m_owner(owner)
{
}

void QtPrompts::showMessage(Icon icon, const QString &title, const QString &text)
{
    static constexpr QMessageBox::Icon icons[] = {QMessageBox::NoIcon, QMessageBox::Information,
                                                  QMessageBox::Warning, QMessageBox::Critical};
    // A box asked by a modal dialog belongs to that dialog.
    QWidget *owner = QApplication::activeModalWidget() ? QApplication::activeModalWidget() : m_owner;
    QMessageBox box(icons[int(icon)], title, text, QMessageBox::Ok, owner);
    box.exec();
}

QString QtPrompts::openNzbPath()
{
    return runFileDialog(false);
}

QString QtPrompts::saveLogPath()
{
    return runFileDialog(true);
}

QString QtPrompts::runFileDialog(bool save)
{
    QFileDialog dialog(m_owner, save ? QStringLiteral("Save") : QStringLiteral("Open"), m_lastDialogFolder);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setNameFilter(save ? QStringLiteral("Log File (*.txt)") : QStringLiteral("NZB Files (*.nzb *.nzb.gz)"));
    dialog.setDefaultSuffix(save ? QStringLiteral("txt") : QStringLiteral("nzb"));
    // The question before replacing a file is on by default; links are followed only when saving.
    dialog.setOption(QFileDialog::DontResolveSymlinks, !save);
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        dialog.adjustSize();
        const QRect area = screen->geometry();
        dialog.move((area.width() - dialog.width()) / 2, (area.height() - dialog.height()) / 2);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    const QString path = dialog.selectedFiles().constFirst();
    m_lastDialogFolder = FolderOfPath(path);
    return path;
}
