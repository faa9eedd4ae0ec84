// Build tool: fills the bash completion's template (packaging/quillby.bash-completion.in) with
// the commands and options of CommandSpec, so that the completion offers what the command
// line takes. Usage: make_completion TEMPLATE OUTPUT
#include "control/CommandSpec.h"

#include <QFile>
#include <QStringList>
#include <cstdio>

int main(int argc, char* argv[]) {
    if (argc != 3) {
        std::fputs("usage: make_completion TEMPLATE OUTPUT\n", stderr);
        return 2;
    }
    QStringList commands, valueOptions, tunnelCommands, optionCases;
    for (const CommandSpec& spec : CommandSpec::all()) {
        if (!spec.summary)
            continue;
        const QString name = QLatin1String(spec.name);
        commands.append(name);
        QStringList options;
        for (const CommandSpec::Parameter& parameter : spec.parameters) {
            if (parameter.field == CommandSpec::Field::None)
                continue;
            const CommandSpec::FieldText& field = CommandSpec::textOf(parameter.field);
            const QString option = QLatin1String("--") + CommandSpec::optionName(parameter.field);
            const bool isOption = parameter.form != CommandSpec::Form::Argument;
            if (isOption)
                options.append(option);
            if (isOption && parameter.form != CommandSpec::Form::Switch && field.valueName &&
                !valueOptions.contains(option))
                valueOptions.append(option);
            if (parameter.form == CommandSpec::Form::Argument &&
                parameter.field == CommandSpec::Field::Tunnel)
                tunnelCommands.append(name);
        }
        if (!options.isEmpty())
            optionCases.append(QStringLiteral("    %1) options='%2' ;;")
                                   .arg(name, options.join(QLatin1Char(' '))));
    }

    QFile in(QString::fromLocal8Bit(argv[1]));
    QFile out(QString::fromLocal8Bit(argv[2]));
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "make_completion: cannot read %s or write %s\n", argv[1], argv[2]);
        return 1;
    }
    QString text = QString::fromUtf8(in.readAll());
    text.replace(QLatin1String("@COMMANDS@"), commands.join(QLatin1Char(' ')));
    text.replace(QLatin1String("@VALUE_OPTIONS@"), valueOptions.join(QLatin1String(" | ")));
    text.replace(QLatin1String("@OPTIONS_BY_COMMAND@"), optionCases.join(QLatin1Char('\n')));
    text.replace(QLatin1String("@TUNNEL_COMMANDS@"), tunnelCommands.join(QLatin1Char('|')));
    out.write(text.toUtf8());
    return 0;
}
