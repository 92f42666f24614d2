# bench_summary.awk -- the mixer's figures over several runs at each level of
# the vector runs: reads the rows quorrel_mixbench --data writes (one file a
# run), prints Markdown tables of the min and median per row and level with
# OpenAL Soft's time over the engine's (the median of each run's paired
# rounds), and the goals beside them; writes the same figures to a
# tab-separated file. Runs beside OpenAL Soft's default configuration
# (--peer default, config "default") give the figures shown beside the fair
# ones; the goals are judged on the fair ones.
#   usage: awk -v levels="avx2 sse2 none" -v datafile=bench-data.tsv -f bench_summary.awk run*.tsv
BEGIN {
    FS = OFS = "\t"
    nlevels = split(levels, level, " ")
}

FNR == 1 { if (FILENAME !~ /-default\.tsv$/) runs++; next } # the header of each run's file

# A run beside the peer's default configuration: its peer figures and ratios.
$11 == "default" {
    row = $1 SUBSEP $2 SUBSEP $4
    n = ++defcount[row, $5]
    defratio[row, $5, n] = $10
    p = ++peercount[row, "default"] # its figures beside the fair ones, under a key of their own
    peer[row, "default", p] = $7
    next
}

{
    section = $1; key = $2; lv = $5
    row = section SUBSEP key SUBSEP $4
    if (!(row in name)) {
        order[++nrows] = row
        name[row] = $3
        rowsection[row] = section; rowkey[row] = key; rowvoices[row] = $4
        if (!((section, key) in group))
            group[section, key] = ++ngroups
        rowgroup[row] = group[section, key]
    }
    n = ++count[row, lv]
    engine[row, lv, n] = $6
    goals[row, lv] = $9
    if ($7 != "-") {
        ratio[row, lv, n] = NF >= 10 ? $10 : $7 / $6
        p = ++peercount[row]
        peer[row, p] = $7
        resampler[row] = $8
    }
}

# Sorts a[1..n] in place, ascending.
function sort(a, n,    i, j, v) {
    for (i = 2; i <= n; i++) {
        v = a[i]
        for (j = i - 1; j >= 1 && a[j] > v; j--)
            a[j + 1] = a[j]
        a[j + 1] = v
    }
}

function median(a, n) {
    return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
}

# The engine's figures of a row at a level into lo/mid (and the ratios'
# median and lowest into rmid/rlow, -1 without a peer); 0 when none.
function gather(row, lv,    n, i, v, r, nr) {
    n = count[row, lv]
    if (!n)
        return 0
    nr = 0
    for (i = 1; i <= n; i++) {
        v[i] = engine[row, lv, i]
        if ((row, lv, i) in ratio)
            r[++nr] = ratio[row, lv, i]
    }
    sort(v, n)
    lo = v[1]; mid = median(v, n)
    rmid = rlow = -1
    if (nr) {
        sort(r, nr)
        rmid = median(r, nr); rlow = r[1]
    }
    return n
}

# Figures in the tables' units: ns per voice-frame, us per buffer.
function unitscale(row) { return rowsection[row] == "routine" ? 1 : 1000 }
function figure(v, row) { return rowsection[row] == "routine" ? sprintf("%.3f", v) : sprintf("%.1f", v / 1000) }

function goaltext(code) {
    if (code ~ /^ns/) return "<= " substr(code, 3) " ns"
    if (code ~ /^x/) return ">= " substr(code, 2) "x OpenAL"
    if (code ~ /^pct/) return "< " substr(code, 4) "% of budget"
    return code
}

# Whether the median at a level meets a goal.
function meets(row, lv, code,    v) {
    if (!gather(row, lv)) return 0
    if (code ~ /^ns/) return mid <= substr(code, 3) + 0
    if (code ~ /^x/) return rmid >= substr(code, 2) + 0
    if (code ~ /^pct/) return 100 * mid / budgetns < substr(code, 4) + 0
    return 0
}

# "goal: level met, level missed; goal: ..." over the levels that hold it,
# the budget and ns goals before the goals against OpenAL Soft.
function verdicts(row) {
    return verdictlist(row, 0) (verdictlist(row, 1) != "" && verdictlist(row, 0) != "" ? "; " : "") verdictlist(row, 1)
}

function verdictlist(row, ratios,    i, j, c, codes, ncodes, list, seen, text, part) {
    ncodes = 0
    delete seen
    for (i = 1; i <= nlevels; i++) {
        if (goals[row, level[i]] == "" || goals[row, level[i]] == "-")
            continue
        c = split(goals[row, level[i]], list, ",")
        for (j = 1; j <= c; j++)
            if (!(list[j] in seen)) { seen[list[j]] = 1; codes[++ncodes] = list[j] }
    }
    text = ""
    for (j = 1; j <= ncodes; j++) {
        if (codes[j] ~ /^x/ && !ratios) continue # the budget and ns goals first
        if (codes[j] !~ /^x/ && ratios) continue
        part = ""
        for (i = 1; i <= nlevels; i++) {
            if (index("," goals[row, level[i]] ",", "," codes[j] ","))
                part = part (part == "" ? "" : ", ") level[i] (meets(row, level[i], codes[j]) ? " met" : " **missed**")
        }
        text = text (text == "" ? "" : "; ") goaltext(codes[j]) ": " part
    }
    return text
}

# min / median of the peer's figures of a row over every run (of its default
# configuration: row SUBSEP "default"); 0 when none.
function gatherpeer(row,    n, i, v) {
    n = peercount[row]
    if (!n) return 0
    for (i = 1; i <= n; i++) v[i] = peer[row, i]
    sort(v, n)
    plo = v[1]; pmid = median(v, n)
    return n
}

# The median of the ratios beside the peer's default configuration at a
# level, -1 without any.
function defaultratio(row, lv,    n, i, r) {
    n = defcount[row, lv]
    if (!n) return -1
    for (i = 1; i <= n; i++) r[i] = defratio[row, lv, i]
    sort(r, n)
    return median(r, n)
}

function cell(row, lv,    d) {
    if (!gather(row, lv)) return " | "
    d = defaultratio(row, lv)
    return figure(lo, row) " / " figure(mid, row) " | " (rmid < 0 ? "-" : sprintf("%.2f / %.2f", rmid, rlow)) \
           (d < 0 ? "" : sprintf(" (default %.2f)", d))
}

function routinecell(row, lv) {
    return gather(row, lv) ? figure(lo, row) " / " figure(mid, row) : ""
}

function datarow(row, renderer, n, lo, mid, rmid, rlow) {
    print rowsection[row], rowkey[row], name[row], rowvoices[row], renderer, n,
          (rowsection[row] == "routine" ? "ns/voice-frame" : "us/buffer"),
          sprintf("%.4f", lo / unitscale(row)), sprintf("%.4f", mid / unitscale(row)),
          (rmid < 0 ? "-" : sprintf("%.3f", rmid)), (rlow < 0 ? "-" : sprintf("%.3f", rlow)),
          (row in resampler ? resampler[row] : "-") > datafile
}

END {
    budgetns = 1024 / 44100 * 1e9
    perlevel = runs / nlevels

    printf "\n### Mixing routines (ns per voice-frame, 1024-frame calls, one voice): min / median of %d run%s at each level\n\n",
           perlevel, perlevel == 1 ? "" : "s"
    header = "| routine |"; rule = "|---|"
    for (i = 1; i <= nlevels; i++) { header = header " " level[i] " |"; rule = rule "---|" }
    print header " goal |"
    print rule "---|"
    for (r = 1; r <= nrows; r++) {
        row = order[r]
        if (rowsection[row] != "routine") continue
        line = "| " name[row] " |"
        for (i = 1; i <= nlevels; i++) line = line " " routinecell(row, level[i]) " |"
        print line " " verdicts(row) " |"
    }

    printf "\n### The whole callback (us per 1024-frame buffer): min / median of %d run%s at each level, ", perlevel, perlevel == 1 ? "" : "s"
    printf "OpenAL Soft / engine as median / lowest of the runs' own ratios (each the median of its paired rounds), "
    printf "OpenAL Soft with its output limiter and dither off (fair); in brackets the median ratio beside its default "
    printf "configuration (limiter on, dither on 16-bit output), whose time stands in the last column but one. "
    printf "OpenAL Soft does not pan stereo sources and does no ear delay without HRTF; the engine does both.\n\n"
    header = "| voices | kind |"; rule = "|---|---|"
    for (i = 1; i <= nlevels; i++) { header = header " " level[i] " us | " level[i] " OpenAL / engine |"; rule = rule "---|---|" }
    print header " OpenAL Soft us (fair) | OpenAL Soft us (default) | goals |"
    print rule "---|---|---|"
    for (r = 1; r <= nrows; r++) {
        row = order[r]
        if (rowsection[row] != "callback") continue
        line = "| " rowvoices[row] " | " name[row] " |"
        for (i = 1; i <= nlevels; i++) line = line " " cell(row, level[i]) " |"
        peercell = gatherpeer(row) ? figure(plo, row) " / " figure(pmid, row) " (" resampler[row] ")" : "-"
        defcell = gatherpeer(row SUBSEP "default") ? figure(plo, row) " / " figure(pmid, row) : "-"
        print line " " peercell " | " defcell " | " verdicts(row) " |"
    }

    print "section", "key", "name", "voices", "renderer", "runs", "unit", "min", "median", "ratio_median", "ratio_lowest", "peer" > datafile
    # A line of the plot is a run of rows: a kind's rows by renderer, then voices.
    for (g = 1; g <= ngroups; g++) {
        for (i = 1; i <= nlevels + 2; i++) {
            for (r = 1; r <= nrows; r++) {
                row = order[r]
                if (rowgroup[row] != g)
                    continue
                if (i <= nlevels && (n = gather(row, level[i])))
                    datarow(row, level[i], n, lo, mid, rmid, rlow)
                if (i == nlevels + 1 && (n = gatherpeer(row)))
                    datarow(row, "openal", n, plo, pmid, -1, -1)
                if (i == nlevels + 2 && (n = gatherpeer(row SUBSEP "default")))
                    datarow(row, "openaldefault", n, plo, pmid, -1, -1)
            }
        }
    }
    close(datafile)
}
