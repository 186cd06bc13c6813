// java -cp ij.jar:. ImageJThreshold WIDTH HEIGHT FILE [CHANGES]
// The program people would use instead, measured as bench_threshold
// measures ours: ImageJ shows the image at 100% in a window whose canvas
// sees WIDTH x HEIGHT of it, and each change moves the threshold by one, as
// Image > Adjust > Threshold does (the red overlay through the image's
// 256-entry table), to a painted, synced frame. Prints one row:
//   imagej <side> <seen WxH> <changes> <median us> <p90 us>
import ij.IJ;
import ij.ImagePlus;
import ij.gui.ImageCanvas;
import ij.process.ImageProcessor;

import java.awt.Dimension;
import java.awt.EventQueue;
import java.awt.Graphics;
import java.awt.Rectangle;
import java.awt.Toolkit;
import java.util.Arrays;

public class ImageJThreshold {
    public static void main(String[] args) throws Exception {
        final int width = Integer.parseInt(args[0]);
        final int height = Integer.parseInt(args[1]);
        final ImagePlus image = IJ.openImage(args[2]);
        final int changes = args.length > 3 ? Integer.parseInt(args[3]) : 200;
        if (image == null || image.getType() != ImagePlus.GRAY8) {
            System.err.println("ImageJThreshold: " + args[2] + " is no 8-bit grey image ImageJ reads");
            System.exit(1);
        }
        EventQueue.invokeAndWait(image::show);
        Thread.sleep(1000);
        // At 100%, the canvas as large as what is to be seen: as View 100%
        // and then the window's edges dragged.
        EventQueue.invokeAndWait(() -> image.getCanvas().zoom100Percent());
        Thread.sleep(500);
        EventQueue.invokeAndWait(() -> {
            ImageCanvas canvas = image.getCanvas();
            Dimension window = image.getWindow().getSize();
            Dimension shown = canvas.getSize();
            image.getWindow().setSize(width + window.width - shown.width, height + window.height - shown.height);
        });
        Thread.sleep(1000);
        final ImageProcessor pixels = image.getProcessor();
        final ImageCanvas canvas = image.getCanvas();
        final int[] level = {0};
        // One change, drawn and synced on the event thread; what the
        // toolkit queues meanwhile runs between changes, outside the clock.
        final Runnable change = () -> {
            level[0] = (level[0] + 1) % 250;
            pixels.setThreshold(level[0], 255, ImageProcessor.RED_LUT);
            image.updateAndDraw();
            Graphics g = canvas.getGraphics();
            canvas.paint(g);
            g.dispose();
            Toolkit.getDefaultToolkit().sync();
        };
        for (int i = 0; i < 20; ++i)
            EventQueue.invokeAndWait(change);
        double[] us = new double[changes];
        for (int i = 0; i < changes; ++i) {
            final long[] took = new long[1];
            EventQueue.invokeAndWait(() -> {
                long start = System.nanoTime();
                change.run();
                took[0] = System.nanoTime() - start;
            });
            us[i] = took[0] / 1000.0;
        }
        Arrays.sort(us);
        Rectangle seen = canvas.getSrcRect();
        if (seen.width != width || seen.height != height || canvas.getMagnification() != 1.0) {
            System.err.printf("ImageJThreshold: ImageJ shows %dx%d at %.2f, not %dx%d at 1%n", seen.width, seen.height,
                              canvas.getMagnification(), width, height);
            System.exit(1);
        }
        System.out.printf("imagej\t%d\t%dx%d\t%d\t%.1f\t%.1f%n", image.getWidth(), seen.width, seen.height, changes,
                          us[changes / 2], us[Math.min(changes - 1, changes * 9 / 10)]);
        System.exit(0);
    }
}
