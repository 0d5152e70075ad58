#include "benchtable.h"

#include "testrig.h"

#include <cstdio>

QList<SummaryFigure> summaryOf(const Figures &f)
{
    const double reference = median(f[QStringLiteral("reference_blocks_per_s")]);
    auto ratio = [&](const char *figure, double of) {
        return of > 0 ? median(f[QLatin1String(figure)]) / of : 0;
    };
    auto middle = [&](const char *figure) { return median(f[QLatin1String(figure)]); };
    auto has = [&](const char *figure) { return !f[QLatin1String(figure)].isEmpty(); };
    return {
        {"block_rate_ratio", ratio("updater_blocks_per_s", reference), 3,
         has("updater_blocks_per_s")},
        {"wire_ratio", ratio("wire_bytes_per_s", lineLimit), 3, has("wire_bytes_per_s")},
        {"cpu_per_s", middle("cpu_per_s"), 4, has("cpu_per_s")},
        {"cli_block_rate_ratio", ratio("cli_blocks_per_s", reference), 3, has("cli_blocks_per_s")},
        {"parallel_min_wire_ratio", ratio("bench_slowest_bytes_per_s", lineLimit), 3,
         has("bench_slowest_bytes_per_s")},
        {"parallel_cpu_per_s", middle("bench_cpu_per_s"), 4, has("bench_cpu_per_s")},
        {"local128_min_wire_ratio", ratio("local_slowest_bytes_per_s", lineLimit), 3,
         has("local_slowest_bytes_per_s")},
        {"local128_cpu_per_board", middle("local_cpu_per_board"), 5, has("local_cpu_per_board")},
        {"crowd128_min_wire_ratio", ratio("crowd_slowest_bytes_per_s", lineLimit), 3,
         has("crowd_slowest_bytes_per_s")},
        {"crowd128_cpu_per_board", middle("crowd_cpu_per_board"), 5, has("crowd_cpu_per_board")},
        {"crowd128_peak_memory_mb", middle("crowd_peak_memory_mb"), 1, has("crowd_peak_memory_mb")},
        {"local128_reference_wire_ratio", ratio("local_reference_bytes_per_s", lineLimit), 3,
         has("local_reference_bytes_per_s")},
        {"stored128_min_wire_ratio", ratio("stored_slowest_bytes_per_s", lineLimit), 3,
         has("stored_slowest_bytes_per_s")},
        {"stored128_reference_wire_ratio", ratio("stored_reference_bytes_per_s", lineLimit), 3,
         has("stored_reference_bytes_per_s")},
        {"stored128_cpu_per_board", middle("stored_cpu_per_board"), 5, has("stored_cpu_per_board")},
        {"stations64_min_wire_ratio", ratio("stations_slowest_bytes_per_s", lineLimit), 3,
         has("stations_slowest_bytes_per_s")},
        {"stations64_cpu_per_board", middle("stations_cpu_per_board"), 5,
         has("stations_cpu_per_board")},
        {"hex_convert_ratio", ratio("hex_convert_ms", middle("hex_read_twice_ms")), 3,
         has("hex_convert_ms")},
        {"window64_min_wire_ratio", ratio("window64_slowest_bytes_per_s", lineLimit), 3,
         has("window64_slowest_bytes_per_s")},
        {"window64_reference_wire_ratio", ratio("window64_reference_bytes_per_s", lineLimit), 3,
         has("window64_reference_bytes_per_s")},
        {"window64_cpu_per_board", middle("window64_cpu_per_board"), 5,
         has("window64_cpu_per_board")},
        {"window64_longest_gap_ms", middle("window64_gap_ms"), 1, has("window64_gap_ms")},
        {"store_records", middle("store_records"), 0, has("store_records")},
        {"store_import_ratio", ratio("store_sqlite_import_s", middle("store_sqlite3_import_s")), 2,
         has("store_sqlite_import_s")},
        {"store_sqlite_find_board_ms", middle("store_sqlite_find_board_ms"), 2,
         has("store_sqlite_find_board_ms")},
        {"store_sqlite_find_serial_ms", middle("store_sqlite_find_serial_ms"), 2,
         has("store_sqlite_find_serial_ms")},
        {"store_sqlite_day_summary_ms", middle("store_sqlite_day_summary_ms"), 1,
         has("store_sqlite_day_summary_ms")},
        {"store_postgresql_find_board_ms", middle("store_postgresql_find_board_ms"), 2,
         has("store_postgresql_find_board_ms")},
        {"store_postgresql_find_serial_ms", middle("store_postgresql_find_serial_ms"), 2,
         has("store_postgresql_find_serial_ms")},
        {"store_postgresql_day_summary_ms", middle("store_postgresql_day_summary_ms"), 1,
         has("store_postgresql_day_summary_ms")},
    };
}

void printTable(const Figures &f, const Options &options)
{
    const Sizes sizes(options.quick);
    const QList<SummaryFigure> summary = summaryOf(f);
    auto value = [&](const char *name) {
        for (const SummaryFigure &figure : summary)
            if (qstrcmp(figure.name, name) == 0)
                return figure.value;
        return 0.0;
    };
    auto has = [&](const char *figure) { return !f[QLatin1String(figure)].isEmpty(); };
    auto middle = [&](const char *figure) { return median(f[QLatin1String(figure)]); };
    auto rateRow = [&](const QString &label, const char *figure, double limit, double ratio,
                       const char *unit, const char *goal) {
        std::printf("%-38s %10.0f %s %12.1f %s %8.3f %8s\n", qPrintable(label), middle(figure),
                    unit, limit, unit, ratio, goal);
    };
    auto shareRow = [&](const QString &label, const char *figure, const char *goal) {
        std::printf("%-38s %12.5f s %16s %8s %8s\n", qPrintable(label), middle(figure), "", "",
                    goal);
    };
    // The reference host on as many boards in the same measure, and how far the row is below it.
    auto referenceRows = [&](const QString &row, const char *ratioName) {
        const QString figure = row + QStringLiteral("_reference_bytes_per_s");
        if (!has(qPrintable(figure)))
            return;
        const QString reference = QString::fromLatin1(ratioName).replace(
            QLatin1String("_min_wire_ratio"), QLatin1String("_reference_wire_ratio"));
        rateRow(QStringLiteral("  the reference host on as many"), qPrintable(figure), lineLimit,
                value(qPrintable(reference)), "B/s", "");
        std::printf("%-38s %+11.3f %19s %8s %8s\n", "  its ratio less the reference host's",
                    value(ratioName) - value(qPrintable(reference)), "", "", ">=-0.01");
    };
    std::printf("%-38s %14s %16s %8s %8s\n", "measure (median of runs)", "updater", "limit",
                "ratio", "goal");
    const double reference = middle("reference_blocks_per_s");
    if (has("updater_blocks_per_s")) {
        rateRow(QStringLiteral("block rate, %1 KiB, no delay").arg(sizes.big / 1024),
                "updater_blocks_per_s", reference, value("block_rate_ratio"), "b/s", ">=0.90");
        rateRow(QStringLiteral("vantyx-flash rate, %1 KiB").arg(sizes.big / 1024),
                "cli_blocks_per_s", reference, value("cli_block_rate_ratio"), "b/s", ">=0.90");
    }
    if (has("wire_bytes_per_s"))
        rateRow(QStringLiteral("wire pacing, %1 KiB at 115200").arg(sizes.wire / 1024),
                "wire_bytes_per_s", lineLimit, value("wire_ratio"), "B/s", ">=0.97");
    if (has("cpu_per_s")) {
        shareRow(QStringLiteral("CPU per s of blocks, %1 blocks, 20 ms").arg(sizes.slow / 256),
                 "cpu_per_s", "<0.05");
        shareRow(QStringLiteral("  the window's thread alone"), "window_thread_cpu_per_s", "");
    }
    if (has("bench_slowest_bytes_per_s")) {
        rateRow(QStringLiteral("%1 boards, %2 KiB at 115200, slowest")
                    .arg(Sizes::boards)
                    .arg(sizes.bench / 1024),
                "bench_slowest_bytes_per_s", lineLimit, value("parallel_min_wire_ratio"), "B/s",
                ">=0.97");
        shareRow(QStringLiteral("%1 boards: vantyx-flash CPU per s").arg(Sizes::boards),
                 "bench_cpu_per_s", "<=0.03");
    }
    const struct
    {
        const char *name, *label, *ratio;
    } many[] = {{"local", "128 boards, local", "local128_min_wire_ratio"},
                {"crowd", "128 boards, a crowd on the metrics", "crowd128_min_wire_ratio"},
                {"stored", "128 boards, records in both stores", "stored128_min_wire_ratio"},
                {"stations", "64 boards, 4 ser2net stations", "stations64_min_wire_ratio"}};
    for (const auto &row : many) {
        const QString name = QLatin1String(row.name);
        if (!has(qPrintable(name + QStringLiteral("_slowest_bytes_per_s")))) {
            // Said when the row was asked for, as in a full run.
            if (name == QLatin1String("stations") && has("local_slowest_bytes_per_s"))
                std::printf("%-38s %s\n", row.label, "not measured: no ser2net");
            if (name == QLatin1String("stored") && has("local_slowest_bytes_per_s"))
                std::printf("%-38s %s\n", row.label, "not measured: no PostgreSQL server");
            continue;
        }
        rateRow(QLatin1String(row.label) + QStringLiteral(", slowest"),
                qPrintable(name + QStringLiteral("_slowest_bytes_per_s")), lineLimit,
                value(row.ratio), "B/s", ">=0.97");
        referenceRows(name, row.ratio);
        shareRow(QStringLiteral("  vantyx-flash CPU per s per board"),
                 qPrintable(name + QStringLiteral("_cpu_per_board")), "<=0.002");
        if (name == QLatin1String("crowd"))
            std::printf("%-38s %11.1f MB %16s %8s %8s\n", "  its peak memory",
                        middle("crowd_peak_memory_mb"), "", "", "<100");
        if (name == QLatin1String("crowd"))
            std::printf("%-38s %11.0f %19s %8s %8s\n", "  connections the endpoint closed",
                        middle("crowd_closed"), "", "", "");
        if (name == QLatin1String("stored") && has("local_slowest_bytes_per_s"))
            std::printf("%-38s %+11.3f %19s %8s %8s\n", "  its ratio less the local row's",
                        value("stored128_min_wire_ratio") - value("local128_min_wire_ratio"), "",
                        "", ">=-0.01");
    }
    if (has("hex_convert_ms")) {
        std::printf("%-38s %11.1f ms %13.1f ms %8.3f %8s\n", "1 MiB as Intel HEX: convert, read x2",
                    middle("hex_convert_ms"), middle("hex_read_twice_ms"),
                    value("hex_convert_ratio"), "<=1");
        std::printf("%-38s %11.1f ms\n", "  read, convert and hash the file",
                    middle("hex_whole_ms"));
    }
    if (has("window64_slowest_bytes_per_s")) {
        rateRow(QStringLiteral("bench window, 64 boards, slowest"), "window64_slowest_bytes_per_s",
                lineLimit, value("window64_min_wire_ratio"), "B/s", ">=0.97");
        referenceRows(QStringLiteral("window64"), "window64_min_wire_ratio");
        shareRow(QStringLiteral("  its CPU per s per board"), "window64_cpu_per_board", "<=0.003");
        std::printf("%-38s %11.1f ms %16s %8s %8s\n", "  longest event-loop gap",
                    middle("window64_gap_ms"), "", "", "<=50");
    }

    if (has("store_sqlite_import_s")) {
        std::printf("%-38s %11.1f s %14.1f s %8.2f %8s\n",
                    qPrintable(QStringLiteral("import %1 records: ours, sqlite3's")
                                   .arg(middle("store_records"), 0, 'f', 0)),
                    middle("store_sqlite_import_s"), middle("store_sqlite3_import_s"),
                    value("store_import_ratio"), "");
        for (const char *store : {"sqlite", "postgresql"}) {
            const QString prefix = QStringLiteral("store_%1_").arg(QLatin1String(store));
            if (!has(qPrintable(prefix + QStringLiteral("find_board_ms")))) {
                std::printf("%-38s %s\n", "  PostgreSQL", "not measured: no PostgreSQL server");
                continue;
            }
            const char *label = qstrcmp(store, "sqlite") == 0 ? "  SQLite" : "  PostgreSQL";
            if (qstrcmp(store, "postgresql") == 0)
                std::printf("%-38s %11.1f s\n", "  PostgreSQL: its import",
                            middle("store_postgresql_import_s"));
            std::printf("%-38s %11.2f ms %16s %8s %8s\n",
                        qPrintable(QLatin1String(label) + QStringLiteral(": a board by its ID")),
                        middle(qPrintable(prefix + QStringLiteral("find_board_ms"))), "", "",
                        "<10");
            std::printf("%-38s %11.2f ms %16s %8s %8s\n",
                        qPrintable(QLatin1String(label) + QStringLiteral(": an adapter's boards")),
                        middle(qPrintable(prefix + QStringLiteral("find_serial_ms"))), "", "",
                        "<10");
            std::printf("%-38s %11.1f ms %16s %8s %8s\n",
                        qPrintable(QLatin1String(label) + QStringLiteral(": a day's summary")),
                        middle(qPrintable(prefix + QStringLiteral("day_summary_ms"))), "", "",
                        "<1000");
        }
    }

    // Each run's figure where the median hides the spread, and what else ran then.
    QStringList details{QStringLiteral("runs: %1").arg(options.runs)};
    auto detail = [&](const QString &what, const char *figure, int decimals) {
        QStringList values;
        for (double v : f[QLatin1String(figure)])
            values << QString::number(v, 'f', decimals);
        if (!values.isEmpty())
            details << what + QLatin1Char(' ') + values.join(QLatin1Char(' '));
    };
    detail(QStringLiteral("metrics scrapes during the local rows"), "scrapes", 0);
    detail(QStringLiteral("block rates: updater"), "updater_blocks_per_s", 0);
    detail(QStringLiteral("reference"), "reference_blocks_per_s", 0);
    detail(QStringLiteral("updater CPU per s at the fast device"), "updater_cpu_fast", 2);
    detail(QStringLiteral("vantyx-flash rates"), "cli_blocks_per_s", 0);
    detail(QStringLiteral("wire: reference host B/s"), "reference_wire_bytes_per_s", 0);
    detail(QStringLiteral("CPU per s at 20 ms a block"), "cpu_per_s", 4);
    detail(QStringLiteral("the window's thread alone"), "window_thread_cpu_per_s", 4);
    if (f.notes.contains(QStringLiteral("threads_beside")))
        details << QStringLiteral("its other threads then: ") +
                       f.notes.value(QStringLiteral("threads_beside"));
    detail(QStringLiteral("bench slowest"), "bench_slowest_bytes_per_s", 0);
    detail(QStringLiteral("bench CPU per s"), "bench_cpu_per_s", 4);
    std::printf("%s\n", qPrintable(details.join(QStringLiteral("; "))));
    if (!f.notes.value(QStringLiteral("beside")).isEmpty())
        std::printf("beside each measure: %s\n",
                    qPrintable(f.notes.value(QStringLiteral("beside"))));
    std::printf("summary:");
    for (const SummaryFigure &figure : summary)
        if (figure.measured)
            std::printf(" %s=%.*f", figure.name, figure.decimals, figure.value);
    std::printf("\n");
    std::fflush(stdout);
}

void printSpread(const QList<QList<SummaryFigure>> &summaries)
{
    std::printf("\n%-28s %10s %10s %10s %8s\n", "over the full runs", "low", "median", "high",
                "spread");
    for (qsizetype i = 0; i < summaries.first().size(); ++i) {
        if (!summaries.first()[i].measured)
            continue;
        QList<double> values;
        for (const QList<SummaryFigure> &summary : std::as_const(summaries))
            values << summary[i].value;
        const Spread spread = spreadOf(values);
        const int decimals = summaries.first()[i].decimals;
        std::printf("%-28s %10.*f %10.*f %10.*f %7.1f%%\n", summaries.first()[i].name, decimals,
                    spread.low, decimals, spread.middle, decimals, spread.high,
                    spread.relative() * 100);
    }
}
