/*
 * Samples counted by index: the columns a whole turn of longitude spans in
 * a grid that reaches all the way round, and a window column outside the
 * grid turned back into it. The tile writer reads every source sample by
 * its row and column this way, and the nearest-sample look-up turns
 * longitudes with the same period, so both agree at the seam.
 */
#ifndef ORVEX_SAMPLE_INDEX_H
#define ORVEX_SAMPLE_INDEX_H

/* Columns in one whole turn for samples `dlon` degrees apart, when `ncols`
 * columns reach all the way round: the turn rounded to whole samples is 1
 * to ncols columns. Otherwise 0: the grid covers a region and nothing
 * wraps. A grid that repeats its first column at the east edge has one
 * column more than its period. */
long orvex_turn_columns(double dlon, long ncols);

/* Column x of a grid of ncols columns: x itself when it lies inside, else
 * x turned by whole periods into the grid; -1 when period is 0 and x lies
 * outside. Columns west of the grid land in 0 .. period - 1, columns east
 * of it in ncols - period .. ncols - 1, so a repeated seam column is read
 * only where it lies. */
long orvex_turned_column(long x, long ncols, long period);

#endif
