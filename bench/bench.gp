# bench.gp -- draws the mixer's figures from the data file bench_summary.awk
# writes: one panel per voice kind, us per 1024-frame buffer against voices,
# the engine at each level of the vector runs beside OpenAL Soft.
#   gnuplot -e "data='bench-data.tsv'; out='bench.png'; heading='...'; levels='avx2 sse2 none';
#               kinds='mono 3d'; names='\"mono, unit step\" \"3-D, moving\"'; peers='Nearest Nearest'" bench.gp
set terminal pngcairo size 1500,1300 font ",10"
set output out
set datafile separator "\t"
set multiplot layout (words(kinds) + 2) / 3, 3 title heading font ",13"
set grid
set key top left box opaque font ",9"
# Room above the highest point for the key, so that it hides no figure.
set offsets graph 0, graph 0, graph 0.5, graph 0
set xlabel "voices"
set ylabel "us per buffer"
set xrange [0:*]
set yrange [0:*]
set xtics (1, 64, 128, 256, 384, 510)
do for [i = 1:words(kinds)] {
    kind = word(kinds, i)
    set title word(names, i)
    plot for [r in levels." openal"] data skip 1 \
         using 4:(strcol(1) eq "callback" && strcol(2) eq kind && strcol(5) eq r ? $9 : NaN) \
         with linespoints pointtype 7 pointsize 0.8 linewidth 1.5 \
         title (r eq "openal" ? "OpenAL Soft (".word(peers, i).", limiter and dither off)" : "engine, ".r)
}
unset multiplot
