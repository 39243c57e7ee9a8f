-- The demo shop's ERP: instance 1 Rotterdam (tw5, no alignment: items are
-- nine blanks and the part number), instance 2 Stuttgart (tw4: the part
-- number itself), instance 3 Linz (twkt, aligned: "KT" and two blanks).
INSERT INTO INSTANCE (KROID, COMPONENTID, CONNECTORTYPE, DESCRIPTION, ALIGNMENT,
    ITEMSEGMENTATIONMASK) VALUES
  (1, 'ROT-SLS-01', 'tw5', 'ERP Rotterdam', 0, NULL),
  (2, 'STU-SLS-02', 'tw4', 'ERP Stuttgart', 0, NULL),
  (3, 'LNZ-SLS-03', 'twkt', 'ERP Linz', 1, 'KT**');

-- Corvetto Machinery is on credit hold: the ERP takes no order of theirs.
INSERT INTO CUSTOMER (CUSTOMERCODE, NAME, CURRENCYCODE, CREDITHOLD, DISCOUNTPERC) VALUES
  ('C1001', 'Hallvard Industrial', 'EUR', 0, 5),
  ('C1002', 'Corvetto Machinery', 'USD', 1, 0),
  ('C1003', 'Lindqvist Werkzeuge', 'EUR', 0, 0);

INSERT INTO TAXCODE (TAXCODE, DESCRIPTION, PERCENTAGE, TAXTYPE) VALUES
  ('01', 'Standard rate', 21, 1),
  ('02', 'Reduced rate', 9, 1),
  ('03', 'Zero rate', 0, 2);

INSERT INTO ITEM (PARTNUMBER, DESCRIPTION, UNITCODE, PRICE, CURRENCYCODE, TAXCODE) VALUES
  ('FA-M8X30', 'Hexagon bolt M8 x 30, zinc plated', 'BOX', 12.40, 'EUR', '01'),
  ('FA-M10X40', 'Hexagon bolt M10 x 40, zinc plated', 'BOX', 18.90, 'EUR', '01'),
  ('FA-NUT-M8', 'Hexagon nut M8, stainless A2', 'BOX', 9.75, 'EUR', '01'),
  ('FA-WSH-M8', 'Washer M8, DIN 125', 'BOX', 4.20, 'EUR', '01'),
  ('HY-PMP-200', 'Gear pump 200 bar, 8 cm3', 'PCS', 385.00, 'EUR', '01'),
  ('HY-MOT-160', 'Orbital motor 160 cm3', 'PCS', 512.00, 'EUR', '01'),
  ('HY-UNIT-CFG', 'Hydraulic power unit, built to order', 'SET', 4850.00, 'EUR', '01'),
  ('HY-VLV-4W', 'Directional valve 4/3, 24 V', 'PCS', 268.50, 'EUR', '01'),
  ('TB-HOSE-12', 'Hydraulic hose DN12, two-wire', 'M', 14.80, 'EUR', '01'),
  ('TB-TUBE-16', 'Precision steel tube 16 x 2', 'M', 11.30, 'EUR', '01'),
  ('HT-WR-SET', 'Combination wrench set, 8 to 19 mm', 'SET', 89.00, 'EUR', '01'),
  ('HT-TQ-200', 'Torque wrench 40 to 200 Nm', 'PCS', 164.00, 'EUR', '01'),
  ('HT-DRILL-OLD', 'Cordless drill 12 V (discontinued)', 'PCS', 99.00, 'EUR', '01'),
  ('HT-SCR-SET', 'Screwdriver set, 12 pieces', 'SET', 34.50, 'EUR', '01'),
  ('FA-GREASE-1', 'Assembly grease, 1 kg', 'KG', 16.90, 'EUR', '02'),
  ('HY-OIL-46', 'Hydraulic oil HLP 46', 'KG', 3.85, 'EUR', '02'),
  ('HT-PROMO-KIT', 'Workshop starter kit (promotion)', 'SET', 149.00, 'EUR', '01'),
  ('TB-FIT-12', 'Straight fitting 12 L', 'PCS', 6.40, 'EUR', '01'),
  ('SV-INSTALL', 'Installation on site, per hour', 'PCS', 78.00, 'EUR', '03'),
  ('SV-TRAINING', 'Operator training, per day', 'PCS', 640.00, 'EUR', '03'),
  ('FREIGHT', 'Freight', 'PCS', 0, 'EUR', '01');

INSERT INTO STOCK (PARTNUMBER, ONHAND, ALLOCATED) VALUES
  ('FA-M8X30', 500, 0), ('FA-M10X40', 300, 0), ('FA-NUT-M8', 800, 0), ('FA-WSH-M8', 1000, 0),
  ('HY-PMP-200', 12, 0), ('HY-MOT-160', 6, 0), ('HY-UNIT-CFG', 2, 0), ('HY-VLV-4W', 20, 0),
  ('TB-HOSE-12', 250, 0), ('TB-TUBE-16', 120, 0), ('HT-WR-SET', 40, 0), ('HT-TQ-200', 15, 0),
  ('HT-DRILL-OLD', 0, 0), ('HT-SCR-SET', 60, 0), ('FA-GREASE-1', 90, 0), ('HY-OIL-46', 400, 0),
  ('HT-PROMO-KIT', 25, 0), ('TB-FIT-12', 300, 0);

INSERT INTO DISCOUNT (CUSTOMERCODE, PARTNUMBER, MINQUANTITY, DISCOUNTPERC) VALUES
  ('C1001', 'FA-M8X30', 10, 8),
  ('C1001', 'HY-PMP-200', 0, 10),
  ('C1003', '', 50, 3);
