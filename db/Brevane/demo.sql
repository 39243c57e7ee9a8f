-- The demo shop's catalogue: SKU 1 to 20 (docs/demo-data.md describes them
-- and what each is there to show).

INSERT INTO UNIT (UNITCODE, UNITDESCRIPTION) VALUES
  ('PCS', 'Pieces'),
  ('BOX', 'Box of 100'),
  ('SET', 'Set'),
  ('M', 'Metre'),
  ('KG', 'Kilogram');

INSERT INTO MANUFACTURER (MANUFACTURERID, MANUFACTURERNAME) VALUES
  ('S2001', 'Brandt Fasteners GmbH'),
  ('S2002', 'Okada Hydraulics Ltd'),
  ('S2003', 'Ferrant Tools Inc');

INSERT INTO COMMODITY (COMMODITYCODE, COMMODITYDESCRIPTION) VALUES
  ('7318', 'Screws, bolts, nuts and washers of iron or steel'),
  ('8412', 'Hydraulic power engines and motors'),
  ('8413', 'Pumps for liquids'),
  ('8467', 'Tools for working in the hand'),
  ('7306', 'Tubes and pipes of iron or steel');

INSERT INTO TAXCODES (TAXCODE, TAXCODEDESCRIPTION, TAXPERCENTAGE) VALUES
  ('01', 'Standard rate', 21),
  ('02', 'Reduced rate', 9),
  ('03', 'Zero rate', 0);

INSERT INTO PRODUCTCATEGORY (CATEGORYID, CATEGORYNAME, CATEGORYCLASSIFICATION) VALUES
  (1, 'Fasteners', 'Mechanical'),
  (2, 'Hydraulics', 'Fluid power'),
  (3, 'Hand tools', 'Tools'),
  (4, 'Tubing', 'Fluid power'),
  (5, 'Services', 'Services');

-- SKU 7 is configurable (item type 3), SKU 13 disabled, SKU 17 expires ten
-- days after the instance was made, SKU 19 and 20 are service items.
INSERT INTO PRODUCT (PRODUCTID, PARTNUMBER, MANUFACTURERID, PRODUCTDESCRIPTION, UNITCODE,
    CONFIGURABLE, COMMODITYCODE, BUSINESSPARTNERID, DISABLED, COMPANYNR, TAXCODE,
    DELIVERYLEADTIME, SERVICEITEM, PRODUCTCATEGORY, PRODUCTEXPIRYDATE) VALUES
  (1, 'FA-M8X30', 'S2001', 'Hexagon bolt M8 x 30, zinc plated', 'BOX', 0, '7318', 2001, 0, '100', '01', 3, 0, 'Fasteners', NULL),
  (2, 'FA-M10X40', 'S2001', 'Hexagon bolt M10 x 40, zinc plated', 'BOX', 0, '7318', 2001, 0, '100', '01', 3, 0, 'Fasteners', NULL),
  (3, 'FA-NUT-M8', 'S2001', 'Hexagon nut M8, stainless A2', 'BOX', 0, '7318', 2001, 0, '100', '01', 3, 0, 'Fasteners', NULL),
  (4, 'FA-WSH-M8', 'S2001', 'Washer M8, DIN 125', 'BOX', 0, '7318', 2001, 0, '100', '01', 2, 0, 'Fasteners', NULL),
  (5, 'HY-PMP-200', 'S2002', 'Gear pump 200 bar, 8 cm3', 'PCS', 0, '8413', 2002, 0, '100', '01', 14, 0, 'Hydraulics', NULL),
  (6, 'HY-MOT-160', 'S2002', 'Orbital motor 160 cm3', 'PCS', 0, '8412', 2002, 0, '100', '01', 21, 0, 'Hydraulics', NULL),
  (7, 'HY-UNIT-CFG', 'S2002', 'Hydraulic power unit, built to order', 'SET', 1, '8413', 2002, 0, '100', '01', 42, 0, 'Hydraulics', NULL),
  (8, 'HY-VLV-4W', 'S2002', 'Directional valve 4/3, 24 V', 'PCS', 0, '8412', 2002, 0, '100', '01', 10, 0, 'Hydraulics', NULL),
  (9, 'TB-HOSE-12', 'S2002', 'Hydraulic hose DN12, two-wire', 'M', 0, '7306', 2002, 0, '100', '01', 5, 0, 'Tubing', NULL),
  (10, 'TB-TUBE-16', 'S2002', 'Precision steel tube 16 x 2', 'M', 0, '7306', 2002, 0, '100', '01', 5, 0, 'Tubing', NULL),
  (11, 'HT-WR-SET', 'S2003', 'Combination wrench set, 8 to 19 mm', 'SET', 0, '8467', 2003, 0, '100', '01', 4, 0, 'Hand tools', NULL),
  (12, 'HT-TQ-200', 'S2003', 'Torque wrench 40 to 200 Nm', 'PCS', 0, '8467', 2003, 0, '100', '01', 7, 0, 'Hand tools', NULL),
  (13, 'HT-DRILL-OLD', 'S2003', 'Cordless drill 12 V (discontinued)', 'PCS', 0, '8467', 2003, 1, '100', '01', 7, 0, 'Hand tools', NULL),
  (14, 'HT-SCR-SET', 'S2003', 'Screwdriver set, 12 pieces', 'SET', 0, '8467', 2003, 0, '100', '01', 4, 0, 'Hand tools', NULL),
  (15, 'FA-GREASE-1', 'S2001', 'Assembly grease, 1 kg', 'KG', 0, NULL, 2001, 0, '100', '02', 3, 0, 'Fasteners', NULL),
  (16, 'HY-OIL-46', 'S2002', 'Hydraulic oil HLP 46', 'KG', 0, NULL, 2002, 0, '100', '02', 3, 0, 'Hydraulics', NULL),
  (17, 'HT-PROMO-KIT', 'S2003', 'Workshop starter kit (promotion)', 'SET', 0, '8467', 2003, 0, '100', '01', 4, 0, 'Hand tools',
      NULL),
  (18, 'TB-FIT-12', 'S2002', 'Straight fitting 12 L', 'PCS', 0, '7306', 2002, 0, '100', '01', 5, 0, 'Tubing', NULL),
  (19, 'SV-INSTALL', NULL, 'Installation on site, per hour', 'PCS', 0, NULL, NULL, 0, '100', '03', 0, 1, 'Services', NULL),
  (20, 'SV-TRAINING', NULL, 'Operator training, per day', 'PCS', 0, NULL, NULL, 0, '100', '03', 0, 1, 'Services', NULL);

INSERT INTO PRODUCTSBYCATEGORY (PRODUCTID, CATEGORYID, SEQUENCE) VALUES
  (1, 1, 1), (2, 1, 2), (3, 1, 3), (4, 1, 4), (15, 1, 5),
  (5, 2, 1), (6, 2, 2), (7, 2, 3), (8, 2, 4), (16, 2, 5),
  (9, 4, 1), (10, 4, 2), (18, 4, 3),
  (11, 3, 1), (12, 3, 2), (13, 3, 3), (14, 3, 4), (17, 3, 5),
  (19, 5, 1), (20, 5, 2);

INSERT INTO PRODUCTIDNO (IDNO, LENGTH, WAREHOUSE, PACKAGEID, PARTNUMBER, AVAILABLE, CHANGED) VALUES
  ('ID-0900001', 25.0, 'WH1', 'PK-1001', 'TB-HOSE-12', 1, 1),
  ('ID-0900002', 12.5, 'WH1', 'PK-1002', 'TB-HOSE-12', 1, 1),
  ('ID-1000001', 6.0, 'WH2', 'PK-2001', 'TB-TUBE-16', 1, 1);

-- The promotion kit (17) expires ten days after the instance is made.
-- sqlite-only: begin
UPDATE PRODUCT SET PRODUCTEXPIRYDATE = strftime('%Y-%m-%dT00:00:00', 'now', 'localtime', '+10 days')
 WHERE PRODUCTID = 17;
-- sqlite-only: end
-- postgresql-only: begin
UPDATE PRODUCT SET PRODUCTEXPIRYDATE = CURRENT_DATE + 10 WHERE PRODUCTID = 17;
-- postgresql-only: end
