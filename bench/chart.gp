# Bar chart of the benchmark's medians; bench/run.sh calls it as
#   gnuplot -e "data='…/chart.dat'; output='bench/results.svg'; subtitle='…'" bench/chart.gp
if (!exists("data")) data = "chart.dat"
if (!exists("output")) output = "results.svg"
if (!exists("subtitle")) subtitle = ""

set terminal svg size 1200,480 dynamic enhanced font "sans,12" background rgb "white"
set output output
set title "Time from start to exit, median (log scale, lower is better)\n{/*0.8 ".subtitle."}"
set ylabel "milliseconds"
set logscale y
set yrange [0.1:2000]
stats data using 2 nooutput
set xrange [-0.6:STATS_records - 0.4]
set format y "%g"
set grid ytics lc rgb "#dddddd"
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.85 border -1
set boxwidth 0.9
set key top left horizontal
set xtics nomirror
set ytics nomirror
set border 3
set tics out

plot data using 2:xtic(1) title columnheader(2) lc rgb "#1f77b4", \
     ''   using 3         title columnheader(3) lc rgb "#ff7f0e", \
     ''   using 4         title columnheader(4) lc rgb "#2ca02c", \
     ''   using 5         title columnheader(5) lc rgb "#7f7f7f"
