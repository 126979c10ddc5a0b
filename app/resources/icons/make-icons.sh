#!/bin/sh
# Draws the window's icons (32 by 32 PNG) with ImageMagick; the PNGs are kept in the repository.
set -e
cd "$(dirname "$0")"
draw() { out=$1; shift; convert -size 32x32 xc:none -strokewidth 2 "$@" "$out"; }

# message row: a letter
draw message.png -fill '#fdfdfd' -stroke '#35577d' -draw 'roundrectangle 3,8 28,25 2,2' \
  -fill none -draw 'polyline 4,9 15.5,18 27,9'
# mailbox file: a letter tray
draw mailbox.png -fill '#dbe8f6' -stroke '#35577d' -draw 'polygon 3,14 9,6 23,6 29,14 29,26 3,26' \
  -fill '#fdfdfd' -draw 'rectangle 9,9 23,16' -fill '#9fbfe2' -draw 'polygon 3,14 11,14 13,18 19,18 21,14 29,14 29,26 3,26'
# tree root: a folder
draw root.png -fill '#f3c951' -stroke '#9a7411' -draw 'polygon 3,7 12,7 15,10 29,10 29,26 3,26'
# Auto Scan: a magnifier over a drive
draw autoscan.png -fill '#c9cfd6' -stroke '#4b5560' -draw 'roundrectangle 2,18 24,28 2,2' \
  -fill '#47c96b' -stroke none -draw 'circle 7,23 8.5,23' \
  -fill '#e8f2fc' -stroke '#35577d' -strokewidth 3 -draw 'circle 18,11 18,4' -draw 'line 23,16 29,22'
# Open File: a folder with a letter
draw open.png -fill '#f3c951' -stroke '#9a7411' -draw 'polygon 2,8 11,8 14,11 29,11 29,27 2,27' \
  -fill '#fdfdfd' -stroke '#35577d' -draw 'rectangle 9,4 24,16' -fill none -draw 'polyline 9,5 16.5,11 24,5' \
  -fill '#ffd966' -stroke '#9a7411' -draw 'polygon 2,27 6,15 31,15 27,27'
# Quick Select All: ticked boxes
draw selectall.png -fill '#fdfdfd' -stroke '#35577d' -draw 'rectangle 3,3 14,14' -draw 'rectangle 3,17 14,28' \
  -stroke '#1f8f3a' -strokewidth 3 -fill none -draw 'polyline 5,8 8,12 13,4' -draw 'polyline 5,22 8,26 13,18' \
  -stroke '#35577d' -strokewidth 2 -draw 'line 18,8 29,8' -draw 'line 18,22 29,22'
# Quick Deselect All: empty boxes
draw deselectall.png -fill '#fdfdfd' -stroke '#35577d' -draw 'rectangle 3,3 14,14' -draw 'rectangle 3,17 14,28' \
  -draw 'line 18,8 29,8' -draw 'line 18,22 29,22'
# Export Selected: a letter leaving with an arrow
draw export.png -fill '#fdfdfd' -stroke '#35577d' -draw 'roundrectangle 2,10 22,26 2,2' \
  -fill none -draw 'polyline 3,11 12,18 21,11' \
  -fill '#1f8f3a' -stroke '#14652a' -strokewidth 1 -draw 'polygon 17,4 25,4 25,0 31,7 25,14 25,10 17,10'
# message not in the mail client's index: the letter crossed out in red
draw deleted.png -fill '#f4f4f4' -stroke '#7d8a99' -draw 'roundrectangle 3,8 28,25 2,2' \
  -fill none -draw 'polyline 4,9 15.5,18 27,9' \
  -stroke '#c62828' -strokewidth 4 -draw 'line 7,5 25,28' -draw 'line 25,5 7,28'
